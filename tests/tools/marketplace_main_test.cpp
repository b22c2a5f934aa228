#include <gtest/gtest.h>
#include <httplib.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdio>
#include <string>
#include <vector>

namespace {

struct Child {
    pid_t pid = -1;
    FILE* out = nullptr;
};

Child spawn(std::vector<std::string> args) {
    int pipe_fds[2];
    if (pipe(pipe_fds) != 0) {
        return {};
    }
    const pid_t pid = fork();
    if (pid == 0) {
        dup2(pipe_fds[1], STDOUT_FILENO);
        close(pipe_fds[0]);
        close(pipe_fds[1]);
        std::vector<char*> argv{const_cast<char*>(ZERANO_MARKETPLACE_BIN)};
        for (auto& arg : args) {
            argv.push_back(arg.data());
        }
        argv.push_back(nullptr);
        execv(argv[0], argv.data());
        _exit(127);
    }
    close(pipe_fds[1]);
    return {pid, fdopen(pipe_fds[0], "r")};
}

int exit_code(pid_t pid) {
    int status = 0;
    if (waitpid(pid, &status, 0) != pid || !WIFEXITED(status)) {
        return -1;
    }
    return WEXITSTATUS(status);
}

TEST(MarketplaceExecutable, ServesUntilSignalledAndExitsCleanly) {
    for (const int signal : {SIGTERM, SIGINT}) {
        Child child = spawn({"--port", "0"});
        ASSERT_GT(child.pid, 0);
        char line[128] = {};
        ASSERT_NE(std::fgets(line, sizeof line, child.out), nullptr);
        unsigned port = 0;
        ASSERT_EQ(std::sscanf(line, "listening on 127.0.0.1:%u\n", &port), 1) << line;

        httplib::Client client("127.0.0.1", static_cast<int>(port));
        const auto result = client.Get("/comm_search");
        ASSERT_TRUE(result);
        EXPECT_EQ(result->status, 200);

        kill(child.pid, signal);
        EXPECT_EQ(exit_code(child.pid), 0) << "signal " << signal;
        std::fclose(child.out);
    }
}

TEST(MarketplaceExecutable, ArgumentsDecideTheExitCode) {
    const struct {
        std::vector<std::string> args;
        int code;
    } cases[] = {
        {{"--help"}, 0},       {{"--port"}, 2},    {{"--port", "70000"}, 2},
        {{"--port", "-1"}, 2}, {{"--verbose"}, 2},
    };
    for (const auto& c : cases) {
        Child child = spawn(c.args);
        ASSERT_GT(child.pid, 0);
        EXPECT_EQ(exit_code(child.pid), c.code) << c.args.front();
        std::fclose(child.out);
    }
}

}  // namespace
