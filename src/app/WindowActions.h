#pragma once

class QZQuorvinWindow;

// Creates the window's menus, tool bars and every action from one table.
struct WindowActions
{
    static void create(QZQuorvinWindow &window);

private:
    struct Entry;
    static const Entry *table(int *count);
};
