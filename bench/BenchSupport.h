#pragma once

#include "TestSupport.h"

#include <optional>
#include <vector>

// The server the benchmarks measure against (scripts/bench starts it, from
// VELQUIN_TEST_* variables), with the given database made; nothing, after
// saying why, when there is none.
std::optional<TestServer> benchServer(const QString &database);

double median(std::vector<double> values);
