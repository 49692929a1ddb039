#include "RowSource.h"

RowSource::~RowSource() = default;
