#pragma once

#include "ui/Controls.h"

class DriveTable;
class QWidget;

// Creates every control of the window description on `window`, in creation order,
// and sizes the window to its client area. The lists start on the working folder.
Controls buildWindow(QWidget &window, DriveTable &drives);
