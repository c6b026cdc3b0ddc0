// The Qt Designer forms built into the program (gui/forms/<name>.ui, compiled by uic). A model
// names its form by the file's base name, which is also the form's class name.
#pragma once

#include <string_view>

class QWidget;

// Creates the form's controls and layout on an empty widget.
using FormSetup = void (*)(QWidget* form);

// The form of that name; null when none is built in.
FormSetup FindForm(std::string_view name);
