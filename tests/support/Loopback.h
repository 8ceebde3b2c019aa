#pragma once

// Brings up the loopback interface of the network namespace this thread is in: a namespace of a test's own
// starts with it down. True when it is up.
bool BringLoopbackUp();
