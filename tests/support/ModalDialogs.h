#pragma once

#include <functional>

class QWidget;

// Runs `action` on the next modal window as soon as it is up, from inside its event loop. A window that does
// not come within a few seconds fails the test; a window still up after the action is left to the action.
void WhenModal(std::function<void(QWidget*)> action);

// Fails the test if a modal window comes up until DisarmModalGuard(), closing it so the test cannot hang.
void ArmModalGuard();
void DisarmModalGuard();
