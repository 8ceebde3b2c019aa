#pragma once

#include <functional>
#include <string>
#include <sys/types.h>

// Permission checks mean nothing to root, so tests of them run in a forked child as an ordinary user:
// the caller's own user, or "nobody" when the tests run as root.
uid_t OrdinaryUid();

// Hands `path` and everything below it to the ordinary user (a no-op unless running as root).
void GiveToOrdinaryUser(const std::string& path);

// Runs `body` in a forked child as the ordinary user and returns its result (the child's exit code), or -1
// when the child died. The child is killed after a few seconds, so a body that blocks cannot hang the test.
int RunAsOrdinaryUser(const std::function<int()>& body);
