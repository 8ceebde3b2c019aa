#pragma once

#include <string>
#include <string_view>
#include <vector>

// The local ping's arguments for what the user typed behind "ping ", written with the Windows options that the
// rules window documents. The same letters mean other things to the local ping (-t is a TTL, -f a flood), so
// every option is translated and none passes through unchanged.
struct PingArguments {
    // The arguments after the program name, GBK text.
    std::vector<std::string> arguments;
    // One GBK line per option that was left out, saying why, for the output box.
    std::vector<std::string> notices;
    // The line is no ping to start (no target, a second target, an unknown option or a request for help): the
    // arguments are empty, the notices hold at most the reason, and the usage text is shown instead of a run.
    bool refused = false;
};

// Splits a command line into arguments the way a Windows program's start-up code does: blanks and tabs separate,
// double quotes group, a backslash escapes a quote only. Nothing is expanded, nothing reaches a shell.
std::vector<std::string> SplitCommandLine(std::string_view commandLine);

// Translates the text behind "ping " (GBK). Without "-t" the run ends after four echoes, as Windows' does, and
// every echo left unanswered gets a line of its own, as Windows prints its timeouts.
PingArguments TranslatePingArguments(std::string_view text);

// The usage of the Windows options this console takes, GBK text ending in a line break: shown by the rules window
// and in the output box when a line is refused. Nothing in it is aligned after a Chinese character, so a
// fixed-pitch Latin face keeps its columns whatever Chinese font fills in.
const std::string& PingUsage();
