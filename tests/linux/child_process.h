#pragma once
// A child process in its own process group, stopped (the whole group, so a
// shell pipeline goes with it) when the object goes out of scope.
#include <signal.h>
#include <spawn.h>
#include <sys/types.h>
#include <sys/wait.h>

#include <string>
#include <vector>

extern char** environ;

class ChildProcess {
public:
    // Runs `command` with /bin/sh; extraEnvironment entries ("NAME=value")
    // are added to this process's environment.
    explicit ChildProcess(const std::string& command, const std::vector<std::string>& extraEnvironment = {}) {
        std::vector<std::string> env;
        for (char** e = environ; *e != nullptr; ++e) env.emplace_back(*e);
        env.insert(env.end(), extraEnvironment.begin(), extraEnvironment.end());
        std::vector<char*> envp;
        for (std::string& entry : env) envp.push_back(entry.data());
        envp.push_back(nullptr);

        std::string shell = "/bin/sh", flag = "-c", script = command;
        char* argv[] = {shell.data(), flag.data(), script.data(), nullptr};
        posix_spawnattr_t attr;
        posix_spawnattr_init(&attr);
        posix_spawnattr_setflags(&attr, POSIX_SPAWN_SETPGROUP);
        posix_spawnattr_setpgroup(&attr, 0);
        if (posix_spawn(&pid_, "/bin/sh", nullptr, &attr, argv, envp.data()) != 0) pid_ = -1;
        posix_spawnattr_destroy(&attr);
    }
    ChildProcess(const ChildProcess&) = delete;
    ChildProcess& operator=(const ChildProcess&) = delete;
    ~ChildProcess() { stop(SIGTERM); }

    bool started() const { return pid_ > 0; }

    // Signals the whole group and reaps the shell.
    void stop(int signal) {
        if (pid_ <= 0) return;
        kill(-pid_, signal);
        int status = 0;
        waitpid(pid_, &status, 0);
        pid_ = -1;
    }

private:
    pid_t pid_ = -1;
};
