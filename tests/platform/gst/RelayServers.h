#pragma once
// Private streaming servers for the relay tests: nginx with its RTMP module
// (HLS on, a stream key checked by an on_publish callback) and icecast2, each
// on free loopback ports in the test's own folder, with configs written here.
#include "GstTestSupport.h"

#include <fcntl.h>
#include <signal.h>
#include <sys/stat.h>
#include <sys/wait.h>

#include <chrono>
#include <fstream>
#include <string>
#include <vector>

namespace relaytest {

inline void WriteFile(const std::string& path, const std::string& text) {
    std::ofstream(path) << text;
}

// A server process started from a config in a folder of its own; killed with
// the object.
class TServer {
  public:
    TServer(const TServer&) = delete;
    TServer& operator=(const TServer&) = delete;
    ~TServer() { Stop(SIGTERM); }
    // Starts it and waits (up to 5 s) until it accepts on port.
    bool Start() {
        // Everything the child needs is made before the fork: the test
        // process has threads, so the child only execs.
        std::vector<char*> argv;
        for (auto& a : args_)
            argv.push_back(a.data());
        argv.push_back(nullptr);
        const int log =
            ::open((dir_ + "/server.out").c_str(), O_WRONLY | O_CREAT | O_APPEND | O_CLOEXEC, 0644);
        pid_ = ::fork();
        if (pid_ == 0) {
            ::dup2(log, 1);
            ::dup2(log, 2);
            ::execvp(argv[0], argv.data());
            ::_exit(127);
        }
        ::close(log);
        return WaitForPort(port_, std::chrono::seconds(5));
    }
    // SIGKILL: the server vanishes as in a crash, without saying goodbye.
    void Stop(int signal) {
        if (pid_ <= 0) return;
        ::kill(pid_, signal);
        ::waitpid(pid_, nullptr, 0);
        pid_ = -1;
    }
    int Port() const { return port_; }
    const std::string& Dir() const { return dir_; }

  protected:
    TServer(std::string dir, int port) : dir_(std::move(dir)), port_(port) {
        // The server may run as nobody: its folder, and the way to it, must be open.
        ::chmod(std::filesystem::path(dir_).parent_path().c_str(), 0711);
        ::mkdir(dir_.c_str(), 0777);
        ::chmod(dir_.c_str(), 0777);
    }
    std::string dir_;
    int port_;
    std::vector<std::string> args_;
    pid_t pid_ = -1;
};

// nginx-rtmp: application "live" publishes with the stream key "goodkey" only
// (checked by its own HTTP server), and cuts HLS into <dir>/hls.
class TNginxRtmp : public TServer {
  public:
    explicit TNginxRtmp(const std::string& dir) : TServer(dir, FreePort()), authPort_(FreePort()) {
        const std::string hls = dir_ + "/hls";
        ::mkdir(hls.c_str(), 0777);
        ::chmod(hls.c_str(), 0777);
        WriteFile(
            dir_ + "/nginx.conf",
            "load_module /usr/lib/nginx/modules/ngx_rtmp_module.so;\n"
            "daemon off;\nmaster_process off;\n"
            "pid " +
                dir_ +
                "/nginx.pid;\n"
                "error_log " +
                dir_ +
                "/error.log info;\n"
                "events { worker_connections 64; }\n"
                "rtmp {\n  access_log " +
                dir_ +
                "/rtmp-access.log;\n"
                "  server {\n    listen 127.0.0.1:" +
                std::to_string(port_) +
                ";\n"
                "    notify_method get;\n"
                "    application live {\n      live on;\n      hls on;\n"
                "      hls_path " +
                hls +
                ";\n      hls_fragment 1s;\n"
                "      on_publish http://127.0.0.1:" +
                std::to_string(authPort_) +
                "/auth;\n"
                "    }\n  }\n}\n"
                "http {\n  access_log " +
                dir_ +
                "/auth-access.log;\n"
                "  client_body_temp_path " +
                dir_ + "/t1;\n  proxy_temp_path " + dir_ +
                "/t2;\n"
                "  fastcgi_temp_path " +
                dir_ + "/t3;\n  uwsgi_temp_path " + dir_ +
                "/t4;\n"
                "  scgi_temp_path " +
                dir_ +
                "/t5;\n"
                "  server {\n    listen 127.0.0.1:" +
                std::to_string(authPort_) +
                ";\n"
                "    location /auth { if ($arg_name = \"goodkey\") { return 200; } return 403; }\n"
                "  }\n}\n");
        args_ = {"nginx", "-c", dir_ + "/nginx.conf", "-p", dir_, "-e", dir_ + "/error.log"};
    }
    std::string Url(const std::string& key) const {
        return "rtmp://127.0.0.1:" + std::to_string(port_) + "/live/" + key;
    }
    // How often a publisher asked to be let in.
    int PublishAttempts() const {
        int code = 0;
        const std::string log =
            gsttest::RunCommand("cat '" + dir_ + "/auth-access.log' 2>/dev/null", code);
        return gsttest::CountOf(log, "GET /auth");
    }

  private:
    int authPort_;
};

// icecast2 taking sources with the password "goodpass".
class TIcecast : public TServer {
  public:
    explicit TIcecast(const std::string& dir) : TServer(dir, FreePort()) {
        // Refuses to run as root unless told whom to become.
        const std::string owner =
            ::geteuid() == 0
                ? "<changeowner><user>nobody</user><group>nogroup</group></changeowner>"
                : "";
        WriteFile(dir_ + "/icecast.xml",
                  "<icecast><limits><sources>2</sources></limits>"
                  "<authentication><source-password>goodpass</source-password>"
                  "<admin-user>admin</admin-user><admin-password>adminpass</admin-password>"
                  "</authentication><hostname>127.0.0.1</hostname>"
                  "<listen-socket><port>" +
                      std::to_string(port_) +
                      "</port><bind-address>127.0.0.1</bind-address></listen-socket>"
                      "<paths><logdir>" +
                      dir_ + "</logdir><webroot>" + dir_ + "</webroot><adminroot>" + dir_ +
                      "</adminroot></paths>"
                      "<logging><accesslog>access.log</accesslog><errorlog>error.log</errorlog>"
                      "<loglevel>3</loglevel></logging>"
                      "<security><chroot>0</chroot>" +
                      owner + "</security></icecast>\n");
        args_ = {"icecast2", "-c", dir_ + "/icecast.xml"};
    }
    std::string Url(const std::string& password, const std::string& mount) const {
        return "icecast://source:" + password + "@127.0.0.1:" + std::to_string(port_) + mount;
    }
    // Lines of a source turned away for its password (a login may make two).
    int BadLogins() const {
        int code = 0;
        const std::string log =
            gsttest::RunCommand("cat '" + dir_ + "/error.log' 2>/dev/null", code);
        return gsttest::CountOf(log, "invalid or missing password");
    }
};

} // namespace relaytest
