// Child processes (see process.h): posix_spawn with the standard streams
// redirected to pipes, files or the null device, and the pipes drained
// together with poll, so that a child filling one pipe while the runtime
// writes or reads another never blocks both.
//
// Every descriptor made here is close-on-exec, so a child sees only its
// three standard streams from this call. SIGPIPE is blocked in the calling
// thread while input is written (a child that exits without reading its
// input must not end the runtime); the child starts with the signal mask
// and default dispositions the runtime had. A child that is not waited for
// gets a small thread of its own that waits for it and so reaps it the
// moment it ends; it never lingers as a zombie.
#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <spawn.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <string>
#include <system_error>
#include <thread>
#include <vector>

#include "io/process.h"

extern char** environ;

namespace vyr::process {

namespace {

constexpr int no_fd = -1;
constexpr int32_t failed = -1;
constexpr int32_t signal_status_base = 128;  // the status a shell reports for a child killed by a signal
constexpr size_t read_block = 65536;

// Children started without waiting whose reaper thread could not be made;
// the next call reaps those that have ended.
std::vector<pid_t> unreaped;

void reap_ended() {
    std::erase_if(unreaped, [](pid_t pid) { return ::waitpid(pid, nullptr, WNOHANG) != 0; });
}

// Lets the child run on, with a detached thread blocked in waitpid for it
// alone (waiting for any child would take the status of a call that waits).
// The thread starts with every signal blocked, so that signals meant for
// the runtime (Ctrl-C, a resized terminal) are still taken by its thread.
void reap_when_done(pid_t pid) {
    sigset_t all, old;
    sigfillset(&all);
    pthread_sigmask(SIG_SETMASK, &all, &old);
    try {
        std::thread([pid] {
            while (::waitpid(pid, nullptr, 0) < 0 && errno == EINTR) {
            }
        }).detach();
    } catch (const std::system_error&) {
        unreaped.push_back(pid);
    }
    pthread_sigmask(SIG_SETMASK, &old, nullptr);
}

void close_fd(int& fd) {
    if (fd >= 0) ::close(fd);
    fd = no_fd;
}

// The words of a command line, quoted as the POSIX shell quotes: blanks
// separate words; single quotes take everything up to the next one as it
// is; double quotes group, a backslash in them quoting only " \ $ and `;
// outside quotes a backslash takes the next character as it is.
std::vector<std::string> split_command(const std::string& cmd) {
    std::vector<std::string> words;
    std::string word;
    bool in_word = false;
    char quote = 0;
    for (size_t i = 0; i < cmd.size(); ++i) {
        char c = cmd[i];
        if (quote) {
            if (c == quote)
                quote = 0;
            else if (c == '\\' && quote == '"' && i + 1 < cmd.size() && std::strchr("\"\\$`", cmd[i + 1]))
                word += cmd[++i];
            else
                word += c;
        } else if (c == ' ' || c == '\t' || c == '\n' || c == '\r') {
            if (in_word) words.push_back(word);
            word.clear();
            in_word = false;
        } else {
            in_word = true;
            if (c == '"' || c == '\'')
                quote = c;
            else if (c == '\\' && i + 1 < cmd.size())
                word += cmd[++i];
            else
                word += c;
        }
    }
    if (in_word) words.push_back(word);
    return words;
}

// The descriptors of one call: the child's three streams, and the parent's
// ends of the pipes. Closes whatever it still holds when it goes.
struct Streams {
    int child[3] = {no_fd, no_fd, no_fd};  // no_fd: the child keeps the runtime's own stream
    int input_write = no_fd;
    int output_read = no_fd;
    int error_read = no_fd;
    int null_device = no_fd;
    ~Streams() {
        for (int& fd : child) close_fd(fd);
        close_fd(input_write);
        close_fd(output_read);
        close_fd(error_read);
        close_fd(null_device);
    }
    void close_child_ends() {
        for (int& fd : child) close_fd(fd);
    }
};

// A close-on-exec duplicate of the null device (opened once per call).
int null_fd(Streams& s) {
    if (s.null_device == no_fd) s.null_device = ::open("/dev/null", O_RDWR | O_CLOEXEC);
    return s.null_device < 0 ? no_fd : ::fcntl(s.null_device, F_DUPFD_CLOEXEC, 3);
}

bool make_pipe(int& read_end, int& write_end) {
    int fds[2];
    if (::pipe2(fds, O_CLOEXEC) != 0) return false;
    read_end = fds[0];
    write_end = fds[1];
    return true;
}

// Sets up one output stream (1 or 2): a file appended to, a pipe whose read
// end the parent keeps, or the null device unless the child shares the
// runtime's own stream (console). False when the file cannot be opened for
// writing: the output would be lost without a word, so the call fails.
bool prepare_output(Streams& s, int stream, const Redirect& r, bool console, int& parent_read) {
    if (r.kind == Redirect::file) {
        s.child[stream] = ::open(r.path.c_str(), O_WRONLY | O_CREAT | O_APPEND | O_CLOEXEC, 0666);
        return s.child[stream] >= 0;
    }
    if (r.kind == Redirect::data) return make_pipe(parent_read, s.child[stream]);
    if (!console) s.child[stream] = null_fd(s);
    return true;
}

// Starts the child; answers 0 or the error number of posix_spawnp.
int spawn(const std::vector<std::string>& words, const Streams& s, const sigset_t& child_mask, pid_t& pid) {
    std::vector<char*> argv;
    for (const std::string& w : words) argv.push_back(const_cast<char*>(w.c_str()));
    argv.push_back(nullptr);

    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    for (int stream = 0; stream < 3; ++stream)
        if (s.child[stream] >= 0) posix_spawn_file_actions_adddup2(&actions, s.child[stream], stream);
    posix_spawnattr_t attr;
    posix_spawnattr_init(&attr);
    sigset_t defaults;
    sigemptyset(&defaults);
    for (int sig : {SIGPIPE, SIGINT, SIGQUIT, SIGTERM, SIGCHLD, SIGWINCH}) sigaddset(&defaults, sig);
    posix_spawnattr_setsigdefault(&attr, &defaults);
    posix_spawnattr_setsigmask(&attr, &child_mask);
    posix_spawnattr_setflags(&attr, POSIX_SPAWN_SETSIGDEF | POSIX_SPAWN_SETSIGMASK);
    int rc = ::posix_spawnp(&pid, argv[0], &actions, &attr, argv.data(), environ);
    posix_spawnattr_destroy(&attr);
    posix_spawn_file_actions_destroy(&actions);
    return rc;
}

std::vector<std::string> shell_words(const std::string& command) { return {"/bin/sh", "-c", command}; }

// Blocks SIGPIPE for the scope; a SIGPIPE raised meanwhile is taken off the
// pending set before the old mask comes back.
class SigpipeBlock {
public:
    SigpipeBlock() {
        sigset_t pipe_only;
        sigemptyset(&pipe_only);
        sigaddset(&pipe_only, SIGPIPE);
        pthread_sigmask(SIG_BLOCK, &pipe_only, &old_);
        sigset_t pending;
        sigpending(&pending);
        was_pending_ = sigismember(&pending, SIGPIPE);
    }
    ~SigpipeBlock() {
        sigset_t pending;
        sigpending(&pending);
        if (!was_pending_ && sigismember(&pending, SIGPIPE)) {
            sigset_t pipe_only;
            sigemptyset(&pipe_only);
            sigaddset(&pipe_only, SIGPIPE);
            struct timespec zero {
                0, 0
            };
            sigtimedwait(&pipe_only, nullptr, &zero);
        }
        pthread_sigmask(SIG_SETMASK, &old_, nullptr);
    }
    const sigset_t& old_mask() const { return old_; }

private:
    sigset_t old_;
    bool was_pending_;
};

// Writes the input and reads both outputs until every pipe is done.
void drain(Streams& s, const std::vector<uint8_t>& input, std::vector<uint8_t>& out, std::vector<uint8_t>& err) {
    size_t written = 0;
    if (s.input_write >= 0 && input.empty()) close_fd(s.input_write);
    if (s.input_write >= 0) ::fcntl(s.input_write, F_SETFL, ::fcntl(s.input_write, F_GETFL) | O_NONBLOCK);
    std::vector<uint8_t> block(read_block);
    while (s.input_write >= 0 || s.output_read >= 0 || s.error_read >= 0) {
        pollfd fds[3];
        int n = 0;
        int* owners[3];
        if (s.input_write >= 0) fds[n] = {s.input_write, POLLOUT, 0}, owners[n++] = &s.input_write;
        if (s.output_read >= 0) fds[n] = {s.output_read, POLLIN, 0}, owners[n++] = &s.output_read;
        if (s.error_read >= 0) fds[n] = {s.error_read, POLLIN, 0}, owners[n++] = &s.error_read;
        if (::poll(fds, nfds_t(n), -1) < 0) {
            if (errno == EINTR) continue;
            break;
        }
        for (int i = 0; i < n; ++i) {
            if (!fds[i].revents) continue;
            int& fd = *owners[i];
            if (&fd == &s.input_write) {
                ssize_t w = ::write(fd, input.data() + written, input.size() - written);
                if (w > 0) written += size_t(w);
                if ((w < 0 && errno != EAGAIN && errno != EINTR) || written == input.size()) close_fd(fd);
                continue;
            }
            ssize_t r = ::read(fd, block.data(), block.size());
            if (r > 0) {
                std::vector<uint8_t>& into = &fd == &s.output_read ? out : err;
                into.insert(into.end(), block.data(), block.data() + r);
            } else if (r == 0 || (errno != EAGAIN && errno != EINTR)) {
                close_fd(fd);
            }
        }
    }
    for (int* fd : {&s.input_write, &s.output_read, &s.error_read}) close_fd(*fd);
}

int32_t wait_for(pid_t pid) {
    int status = 0;
    while (::waitpid(pid, &status, 0) < 0)
        if (errno != EINTR) return failed;
    if (WIFEXITED(status)) return WEXITSTATUS(status);
    if (WIFSIGNALED(status)) return signal_status_base + WTERMSIG(status);
    return failed;
}

// Sets up the streams, starts `words` (or, when that program is not found
// and `shell_retry` is given, that command through the shell) and, when
// waiting, feeds the input and collects the outputs until the child ends.
int32_t execute(const std::vector<std::string>& words, const std::string* shell_retry, const Flags& flags,
                const Redirect& in, Redirect& out, Redirect& err) {
    reap_ended();
    Streams s;
    if (in.kind == Redirect::file) {
        s.child[0] = ::open(in.path.c_str(), O_RDONLY | O_CLOEXEC);
        if (s.child[0] < 0) return failed;
    } else if (in.kind == Redirect::data) {
        if (!make_pipe(s.child[0], s.input_write)) return failed;
    }
    if (!prepare_output(s, 1, out, flags.console, s.output_read)) return failed;
    if (!prepare_output(s, 2, err, flags.console, s.error_read)) return failed;
    bool redirected = in.kind != Redirect::none || out.kind != Redirect::none || err.kind != Redirect::none;
    bool waiting = flags.wait || flags.console || redirected;

    SigpipeBlock sigpipe;
    pid_t pid = 0;
    int rc = spawn(words, s, sigpipe.old_mask(), pid);
    if (rc == ENOENT && shell_retry) rc = spawn(shell_words(*shell_retry), s, sigpipe.old_mask(), pid);
    if (rc != 0) return failed;
    s.close_child_ends();

    if (!waiting) {
        reap_when_done(pid);
        return int32_t(pid);
    }
    std::vector<uint8_t> captured_out, captured_err;
    drain(s, in.bytes, captured_out, captured_err);
    int32_t status = wait_for(pid);
    if (out.kind == Redirect::data) out.bytes = std::move(captured_out);
    if (err.kind == Redirect::data) err.bytes = std::move(captured_err);
    return status;
}

bool is_executable_file(const std::string& path) {
    struct stat st;
    return ::stat(path.c_str(), &st) == 0 && S_ISREG(st.st_mode) && ::access(path.c_str(), X_OK) == 0;
}

}  // namespace

int32_t run(const std::string& command, const Flags& flags, const Redirect& in, Redirect& out, Redirect& err) {
    std::vector<std::string> words = flags.shell ? shell_words(command) : split_command(command);
    if (words.empty()) words = shell_words(command);
    return execute(words, flags.shell ? nullptr : &command, flags, in, out, err);
}

int32_t run_program(const std::vector<std::string>& argv, const Redirect& in, Redirect& out, Redirect& err) {
    if (argv.empty()) return failed;
    Flags waiting;
    waiting.wait = true;
    return execute(argv, nullptr, waiting, in, out, err);
}

bool on_path(const std::string& program) {
    if (program.empty()) return false;
    if (program.find('/') != std::string::npos) return is_executable_file(program);
    const char* path = std::getenv("PATH");
    std::string dirs = path ? path : "/usr/local/bin:/usr/bin:/bin";
    size_t start = 0;
    while (start <= dirs.size()) {
        size_t end = dirs.find(':', start);
        if (end == std::string::npos) end = dirs.size();
        std::string dir = end > start ? dirs.substr(start, end - start) : ".";
        if (is_executable_file(dir + "/" + program)) return true;
        start = end + 1;
    }
    return false;
}

void open_with_desktop(const std::string& target) {
    reap_ended();
    Streams s;
    for (int stream = 0; stream < 3; ++stream) s.child[stream] = null_fd(s);
    sigset_t mask;
    pthread_sigmask(SIG_SETMASK, nullptr, &mask);
    pid_t pid = 0;
    if (spawn({"xdg-open", target}, s, mask, pid) == 0) reap_when_done(pid);
}

}  // namespace vyr::process
