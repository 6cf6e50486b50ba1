#include "output.hpp"

#include <fcntl.h>
#include <limits.h>
#include <signal.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <vector>

#include "common.hpp"

namespace travo::cli {
namespace {

// Temporary files to remove when a signal ends the tool. Plain arrays: the
// handler may only use async-signal-safe calls.
constexpr int kSlots = 4;
char g_temp[kSlots][PATH_MAX];
volatile sig_atomic_t g_used[kSlots];
constexpr int kSignals[] = {SIGINT, SIGTERM, SIGHUP, SIGXFSZ};

extern "C" void remove_temporaries(int sig) {
    for (int i = 0; i < kSlots; i++) {
        if (g_used[i]) ::unlink(g_temp[i]);
    }
    ::signal(sig, SIG_DFL);
    ::raise(sig);
}

// Blocks the cleanup signals for its lifetime, so that a temporary is never
// created without being registered.
struct SignalsBlocked {
    sigset_t old;
    SignalsBlocked() {
        sigset_t set;
        sigemptyset(&set);
        for (int s : kSignals) sigaddset(&set, s);
        pthread_sigmask(SIG_BLOCK, &set, &old);
    }
    ~SignalsBlocked() { pthread_sigmask(SIG_SETMASK, &old, nullptr); }
};

void install_handlers() {
    static bool installed = false;
    if (installed) return;
    installed = true;
    for (int s : kSignals) {
        struct sigaction now {};
        sigaction(s, nullptr, &now);
        if (now.sa_handler == SIG_IGN) continue;  // ignored by the caller (nohup, trap ''): keep it so
        struct sigaction sa {};
        sa.sa_handler = remove_temporaries;
        sigemptyset(&sa.sa_mask);
        sigaction(s, &sa, nullptr);
    }
}

void track(const std::string &path, bool on) {
    for (int i = 0; i < kSlots; i++) {
        if (on && !g_used[i]) {
            std::memcpy(g_temp[i], path.c_str(), path.size() + 1);
            g_used[i] = 1;
            return;
        }
        if (!on && g_used[i] && path == g_temp[i]) {
            g_used[i] = 0;
            return;
        }
    }
}

std::string folder_of(const std::string &path) {
    const auto slash = path.find_last_of('/');
    if (slash == std::string::npos) return ".";
    return slash == 0 ? "/" : path.substr(0, slash);
}

std::string name_of(const std::string &path) {
    const auto slash = path.find_last_of('/');
    return slash == std::string::npos ? path : path.substr(slash + 1);
}

bool write_all(int fd, std::string_view data) {
    while (!data.empty()) {
        const ssize_t k = ::write(fd, data.data(), data.size());
        if (k < 0 && errno == EINTR) continue;
        if (k <= 0) return false;
        data.remove_prefix(static_cast<std::size_t>(k));
    }
    return true;
}

}  // namespace

Output::Output(const std::string &path, const char *verb) : path_(path), verb_(verb) {
    if (path.empty() || path == "-") {
        to_stdout_ = true;
        return;
    }
    // A descriptor the tool was given (/dev/stdout, /dev/fd/N): written
    // through that descriptor, so that the caller's redirection (appending,
    // say) holds.
    for (const char *prefix : {"/dev/fd/", "/proc/self/fd/"}) {
        if (path.rfind(prefix, 0) == 0 && path.size() > std::strlen(prefix) &&
            path.find_first_not_of("0123456789", std::strlen(prefix)) == std::string::npos &&
            path.size() - std::strlen(prefix) < 9) {
            direct_fd_ = std::atoi(path.c_str() + std::strlen(prefix));
        }
    }
    if (path == "/dev/stdout") direct_fd_ = STDOUT_FILENO;
    if (path == "/dev/stderr") direct_fd_ = STDERR_FILENO;
    if (direct_fd_ >= 0) {
        if (::fcntl(direct_fd_, F_GETFD) < 0) fail(std::strerror(errno));
        direct_ = true;
        return;
    }
    struct stat st {};
    if (::stat(path.c_str(), &st) == 0) {
        if (S_ISDIR(st.st_mode)) fail(std::strerror(EISDIR));
        // A file the user may not write is not replaced either.
        if (::access(path.c_str(), W_OK) != 0) fail(std::strerror(errno));
        if (!S_ISREG(st.st_mode)) {
            // A device, pipe or socket (also through /dev/stdout and the
            // like): written in place at commit().
            target_ = path;
            direct_ = true;
            return;
        }
        // The file itself, through any links, so that the links stay.
        char *real = ::realpath(path.c_str(), nullptr);
        if (real == nullptr) fail(std::strerror(errno));
        target_ = real;
        std::free(real);
    } else if (errno == ENOENT) {
        // A new file, perhaps named by a link that points where no file is
        // yet: created where the links lead.
        target_ = path;
        for (int hops = 0; ::lstat(target_.c_str(), &st) == 0 && S_ISLNK(st.st_mode); hops++) {
            if (hops == 40) fail(std::strerror(ELOOP));
            std::vector<char> link(PATH_MAX + 1);
            const ssize_t k = ::readlink(target_.c_str(), link.data(), PATH_MAX);
            if (k <= 0) fail(std::strerror(errno));
            const std::string to(link.data(), static_cast<std::size_t>(k));
            target_ = to.front() == '/' ? to : folder_of(target_) + "/" + to;
        }
    } else {
        fail(std::strerror(errno));
    }
    if (target_.size() + 32 >= PATH_MAX) fail(std::strerror(ENAMETOOLONG));
    make_staging(folder_of(target_), name_of(target_));
}

Output::~Output() {
    if (fd_ >= 0) ::close(fd_);
    if (!staging_.empty()) {
        ::unlink(staging_.c_str());
        SignalsBlocked blocked;
        track(staging_, false);
    }
}

void Output::fail(const std::string &reason) const {
    const std::string what = std::string(verb_) == "cannot open" ? "cannot open " + path_ + " for writing"
                                                                 : verb_ + " " + path_;
    throw DataError(what + ": " + reason);
}

void Output::make_staging(const std::string &folder, const std::string &stem) {
    install_handlers();
    std::string name = folder + "/." + stem + ".part-XXXXXX";
    SignalsBlocked blocked;
    const int fd = ::mkostemp(name.data(), O_CLOEXEC);
    if (fd < 0) fail(std::strerror(errno));
    fd_ = fd;
    staging_ = name;
    track(staging_, true);
}

const std::string &Output::staging_file() {
    if (staging_.empty()) {
        const char *tmp = std::getenv("TMPDIR");
        make_staging(tmp != nullptr && *tmp != '\0' ? tmp : "/tmp", "travo");
    }
    return staging_;
}

void Output::write(std::string_view content) {
    if (to_stdout_ || direct_) {
        pending_.append(content);
        return;
    }
    if (!write_all(fd_, content)) {
        verb_ = "cannot write";
        fail(std::strerror(errno));
    }
}

void Output::commit() {
    verb_ = "cannot write";
    if (to_stdout_ || direct_) {
        if (!staging_.empty()) {  // the picture library wrote the content into the staging file
            pending_.clear();
            char buf[1 << 16];
            ssize_t k;
            ::lseek(fd_, 0, SEEK_SET);
            while ((k = ::read(fd_, buf, sizeof buf)) > 0 || (k < 0 && errno == EINTR)) {
                if (k > 0) pending_.append(buf, static_cast<std::size_t>(k));
            }
            if (k < 0) fail(std::strerror(errno));
        }
        if (to_stdout_) {
            std::fflush(stdout);
            if (!write_all(STDOUT_FILENO, pending_)) throw DataError("cannot write to standard output");
        } else if (direct_fd_ >= 0) {
            if (!write_all(direct_fd_, pending_)) fail(std::strerror(errno));
        } else {
            const int fd = ::open(target_.c_str(), O_WRONLY | O_NOCTTY | O_CLOEXEC);
            if (fd < 0) fail(std::strerror(errno));
            const bool ok = write_all(fd, pending_);
            const int err = errno;
            if (::close(fd) != 0 && ok) fail(std::strerror(errno));
            if (!ok) fail(std::strerror(err));
        }
        return;
    }
    // A new file gets the permissions the user's umask allows; a replaced
    // one keeps its own.
    struct stat st {};
    mode_t mode;
    if (::stat(target_.c_str(), &st) == 0) {
        mode = st.st_mode & 07777;
    } else {
        const mode_t mask = ::umask(0);
        ::umask(mask);
        mode = 0666 & ~mask;
    }
    ::fchmod(fd_, mode);
    const int fd = fd_;
    fd_ = -1;
    if (::close(fd) != 0) fail(std::strerror(errno));
    if (::rename(staging_.c_str(), target_.c_str()) != 0) fail(std::strerror(errno));
    SignalsBlocked blocked;
    track(staging_, false);
    staging_.clear();
}

void write_output(const std::string &path, std::string_view content) {
    Output out(path);
    out.write(content);
    out.commit();
}

}  // namespace travo::cli
