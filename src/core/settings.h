#pragma once

#include <atomic>
#include <cstdint>
#include <string>

namespace dunmore::core {

// The application-wide settings and flags. One instance, owned by the application
// object and reachable from every thread. `busy` admits one job at a time;
// `stopRequested` is set by Stop and read by the save jobs between items, rows and pages.
struct AppSettings {
    std::atomic<std::int32_t> busy{0};
    std::atomic<std::uint8_t> stopRequested{0};
    std::string chosenFolder;  // ends with the separator
    std::string tempFolder;    // ends with the separator
    std::string logFolder;     // ends with the separator
    std::string logFilePath;
    std::int32_t outputLineCount = 0;
    // Set by every .frm read, on whichever thread reads it.
    std::atomic<bool> version56OrLater{false};
    bool savingScript = false;
    bool savingToServer = false;
    std::string savingFolder;
    std::string serverName;
    std::string serverPort;
    std::string userName;
    std::string userPassword;
    // Taken by every table reader that writes a blob file, on whichever thread it runs.
    std::atomic<std::uint64_t> blobFileCounter{0};
    // Saving: externally stored BLOB and TEXT values go into the statements as
    // hexadecimal literals instead of blob files, so that a script stands alone.
    bool blobsInline = false;
    // Cleared by the row streams after their first page, on whichever thread reads.
    std::atomic<bool> resumeAtOffset{false};
    // Threads of a save: 0 = one per core, 1 = everything on the job's thread.
    std::uint32_t saveJobs = 0;
    // Scripts for a MariaDB server: collations of MySQL 8 are written as the nearest
    // MariaDB ones (each named in the log).
    bool targetMariadb = false;
    // Checking (dunmore check): the rows are read as a script save reads them, and only
    // counted; nothing is written.
    bool checkOnly = false;

    // Saving state of the value decoders: saving while either save flag is set.
    bool saving() const { return savingScript || savingToServer; }
};

}  // namespace dunmore::core
