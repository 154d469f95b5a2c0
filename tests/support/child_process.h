#pragma once

// A program started by a test, its standard input, output and error on pipes.

#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <string>
#include <vector>

namespace pyranex::test {

class ChildProcess {
 public:
  explicit ChildProcess(const std::vector<std::string>& argv) {
    int in[2];
    int out[2];
    int err[2];
    if (::pipe2(in, O_CLOEXEC) != 0 || ::pipe2(out, O_CLOEXEC) != 0 ||
        ::pipe2(err, O_CLOEXEC) != 0) {
      return;
    }
    pid_ = ::fork();
    if (pid_ == 0) {
      ::dup2(in[0], 0);
      ::dup2(out[1], 1);
      ::dup2(err[1], 2);
      std::vector<char*> args;
      for (const auto& a : argv) args.push_back(const_cast<char*>(a.c_str()));
      args.push_back(nullptr);
      ::execv(args[0], args.data());
      ::_exit(127);
    }
    ::close(in[0]);
    ::close(out[1]);
    ::close(err[1]);
    in_ = in[1];
    out_ = out[0];
    err_ = err[0];
  }
  ~ChildProcess() {
    if (pid_ > 0 && !exited_) {
      ::kill(pid_, SIGKILL);
      Wait(std::chrono::seconds(5));
    }
    for (int fd : {in_, out_, err_}) {
      if (fd >= 0) ::close(fd);
    }
  }
  ChildProcess(const ChildProcess&) = delete;
  ChildProcess& operator=(const ChildProcess&) = delete;

  bool Started() const { return pid_ > 0; }
  void Signal(int sig) {
    if (pid_ > 0 && !exited_) ::kill(pid_, sig);
  }

  // Closes our end of the program's standard output, as `| head` does when it has enough.
  void CloseOutput() {
    if (out_ >= 0) ::close(out_);
    out_ = -1;
  }

  bool Write(const std::string& text) {
    return ::write(in_, text.data(), text.size()) == static_cast<ssize_t>(text.size());
  }

  // Reads what is there, waiting up to `period` for more.
  void Drain(std::chrono::milliseconds period) {
    const auto end = std::chrono::steady_clock::now() + period;
    for (;;) {
      const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(
          end - std::chrono::steady_clock::now());
      if (left.count() <= 0) return;
      pollfd fds[2] = {{out_, POLLIN, 0}, {err_, POLLIN, 0}};
      if (::poll(fds, 2, static_cast<int>(left.count())) <= 0) return;
      bool any = false;
      any |= ReadInto(fds[0], out_, stdout_);
      any |= ReadInto(fds[1], err_, stderr_);
      if (!any) return;  // both closed
    }
  }

  // The next line of output not taken yet, without its newline; empty when none came in time.
  std::string ReadLine(std::chrono::milliseconds limit) {
    const auto end = std::chrono::steady_clock::now() + limit;
    for (;;) {
      if (const auto eol = stdout_.find('\n', taken_); eol != std::string::npos) {
        std::string line = stdout_.substr(taken_, eol - taken_);
        taken_ = eol + 1;
        return line;
      }
      if (std::chrono::steady_clock::now() >= end) return {};
      Drain(std::chrono::milliseconds(50));
    }
  }

  // The output not taken yet, once the program has closed it (or the limit has passed).
  std::string ReadAll(std::chrono::milliseconds limit) {
    const auto end = std::chrono::steady_clock::now() + limit;
    while (std::chrono::steady_clock::now() < end && !OutputClosed()) {
      Drain(std::chrono::milliseconds(50));
    }
    std::string rest = stdout_.substr(taken_);
    taken_ = stdout_.size();
    return rest;
  }

  // Waits for the exit: the exit code, 128 + signal when killed, -1 when it did not end in time.
  int Wait(std::chrono::milliseconds limit) {
    const auto end = std::chrono::steady_clock::now() + limit;
    while (std::chrono::steady_clock::now() < end) {
      Drain(std::chrono::milliseconds(20));
      int status = 0;
      const pid_t r = ::waitpid(pid_, &status, WNOHANG);
      if (r == pid_) {
        exited_ = true;
        Drain(std::chrono::milliseconds(50));
        return WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
      }
    }
    return -1;
  }

  // Sends `sig` (none when 0) and waits for the exit.
  int Finish(int sig = SIGTERM) {
    if (sig != 0) Signal(sig);
    return Wait(std::chrono::seconds(20));
  }

  const std::string& Out() const { return stdout_; }
  const std::string& Err() const { return stderr_; }

 private:
  bool OutputClosed() {
    pollfd p{out_, POLLIN, 0};
    if (::poll(&p, 1, 0) <= 0) return false;
    return !ReadInto(p, out_, stdout_);
  }

  static bool ReadInto(const pollfd& p, int fd, std::string& into) {
    if (!(p.revents & (POLLIN | POLLHUP))) return true;
    char buffer[4096];
    const ssize_t n = ::read(fd, buffer, sizeof buffer);
    if (n <= 0) return false;
    into.append(buffer, static_cast<size_t>(n));
    return true;
  }

  pid_t pid_ = -1;
  int in_ = -1;
  int out_ = -1;
  int err_ = -1;
  bool exited_ = false;
  size_t taken_ = 0;
  std::string stdout_;
  std::string stderr_;
};

}  // namespace pyranex::test
