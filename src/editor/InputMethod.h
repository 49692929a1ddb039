#pragma once

class QWidget;

// Switches the platform input method on for a widget, so that Japanese
// conversion is available whenever an editor has (or hands back) the focus.
// Whether the conversion itself is open is left as the user set it.
void enableInputMethod(QWidget *widget);
