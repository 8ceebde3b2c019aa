#pragma once

#include "ui/MainWindow.h"

#include <memory>

struct AppState;

// Reads ms.ini, shows the main window and, once the startup gate is passed, embeds the server page and the
// network tools page. Returns the main window, which the caller keeps until the message loop ends.
std::unique_ptr<MainWindow> StartUp(AppState& state);
