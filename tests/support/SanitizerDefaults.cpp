// Defaults the sanitizers read at start, linked into every test program. They live in the programs rather than
// in the test environment, so a test run by hand behaves as it does under ctest.

extern "C" {

// Allocations that the system libraries keep for the life of the process.
const char* __lsan_default_suppressions() {
    return "leak:libfontconfig\n"
           "leak:libQt6Gui\n"
           "leak:libQt6Core\n"
           "leak:libdbus\n";
}

// Qt's thread pool and wait conditions are not built for the race checker, so its reports from inside the Qt
// libraries are false alarms; a race in our own code still shows, since its frames are ours.
const char* __tsan_default_suppressions() {
    return "called_from_lib:libQt6Core.so.6\n"
           "called_from_lib:libQt6Gui.so.6\n"
           "called_from_lib:libQt6Widgets.so.6\n"
           "race:libQt6Core.so.6\n"
           "race:libQt6Gui.so.6\n"
           "race:libQt6Widgets.so.6\n";
}

const char* __ubsan_default_options() {
    return "print_stacktrace=1:halt_on_error=1";
}

} // extern "C"
