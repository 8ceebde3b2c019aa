#pragma once

#include "runtime/Bytes.h"
#include "servers/ServerEntry.h"
#include "servers/StorableField.h"

#include <cstddef>
#include <string>
#include <string_view>
#include <vector>

// Server lists brought in from other remote-desktop tools: Windows connection files (.rdp) and Remmina profiles
// (.remmina). Host, port and account are taken; passwords never are, since both tools keep them sealed.

// Connection files are a few kilobytes; anything larger is not one.
inline constexpr std::size_t kImportFileLimit = std::size_t{256} << 10;

// Why a file added no server.
enum class ImportSkip {
    None,
    NotServerFile,  // neither .rdp nor .remmina
    NotRdp,         // a Remmina profile of another protocol
    NoAddress,      // no host to connect to
    Duplicate,      // the list already has this host, port and account
    Refused,        // a value ms.ini cannot carry
    BadPort,        // a port that is no number from 1 to 65535
    NotRegularFile, // a directory, FIFO or device
    TooLarge,       // over kImportFileLimit
    Unreadable,     // missing, not permitted, or a read error
    NotText,        // binary, or in no encoding either tool writes
};

// The entry field a refused value was meant for.
enum class ImportField { Host, Port, Account };

struct ImportedFile {
    std::string path;
    ImportSkip skip = ImportSkip::None;
    // With ImportSkip::Refused: which value and why.
    ImportField field = ImportField::Host;
    FieldProblem problem = FieldProblem::None;
    // The entry to add when nothing was skipped; its note is the profile's name when it can be stored. With
    // ImportSkip::BadPort, its port is the one refused.
    ServerEntry entry{};
};

// Parses a file's bytes by its name's ending (.rdp or .remmina, in any case). An .rdp file may be UTF-16LE
// with a byte-order mark, as Windows writes it, UTF-8, or GBK ("ANSI"); a Remmina profile is UTF-8.
[[nodiscard]] ImportedFile ParseServerFile(std::string_view name, const Bytes& bytes);

// Reads and parses every file in turn; paths are as the platform's file functions of the core take them (UTF-8
// on Windows). A file whose server is like one in `existing`, or like one taken from an earlier file, is
// skipped as a duplicate: the same host (letters in either case), the same port text and the same account.
[[nodiscard]] std::vector<ImportedFile> ImportServerFiles(const std::vector<std::string>& paths,
                                                          const std::vector<ServerEntry>& existing);
