// Output files written completely or not at all. A regular file (or a name
// not yet taken) is written into a temporary file beside it and renamed over
// it only once everything is written, so that a failure or an interrupt
// leaves the old content as it was. A symbolic link is followed and its
// target written; a device, pipe or socket is written directly, since it
// cannot be replaced, and /dev/stdout, /dev/fd/N and the like through the
// descriptor they name. Temporary files are removed on SIGINT, SIGTERM, SIGHUP
// and SIGXFSZ.
#pragma once

#include <string>
#include <string_view>

namespace travo::cli {

class Output {
public:
    // Prepares writing to `path` ("-" or "": standard output). Throws
    // DataError "<verb> <path>...: <reason>" when the place cannot be written.
    explicit Output(const std::string &path, const char *verb = "cannot open");
    ~Output();
    Output(const Output &) = delete;
    Output &operator=(const Output &) = delete;

    // A file that a writer working by file name (the picture library) may
    // fill; commit() then delivers it. Created on first use.
    const std::string &staging_file();

    // Appends `content` to what commit() delivers.
    void write(std::string_view content);

    // Delivers everything written; before this nothing reaches the target.
    void commit();

private:
    void fail(const std::string &reason) const;
    void make_staging(const std::string &folder, const std::string &stem);

    std::string path_, target_, verb_, staging_, pending_;
    bool to_stdout_ = false, direct_ = false;
    int fd_ = -1;         // the staging file
    int direct_fd_ = -1;  // a descriptor named by /dev/stdout, /dev/fd/N and the like
};

// Writes `content` to `path` through an Output.
void write_output(const std::string &path, std::string_view content);

}  // namespace travo::cli
