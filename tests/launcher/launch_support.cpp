#include "launch_support.h"

#include <fcntl.h>
#include <grp.h>
#include <sched.h>
#include <sys/mount.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <set>
#include <stdexcept>

#include "scratch_dir.h"

extern char **environ;

namespace launcher_test {
namespace {

[[noreturn]] void fail(const std::string &what) { throw std::runtime_error(what + ": " + std::strerror(errno)); }

std::string first_component(const std::string &absolute) {
  if (absolute.empty() || absolute[0] != '/') return std::string();
  size_t end = absolute.find('/', 1);
  return absolute.substr(1, end == std::string::npos ? std::string::npos : end - 1);
}

// In the child: a tmpfs root holding the system directories, the top-level
// directories the run needs, and the requested binds; then chroot into it.
// Returns a description of the step that failed, or an empty string.
std::string enter_private_root(const std::string &new_root, const std::set<std::string> &entries,
                               const std::vector<Bind> &binds, const std::string &cwd) {
  if (unshare(CLONE_NEWNS) != 0) return "unshare";
  // Nothing done from here on may reach the real mount table.
  if (mount(nullptr, "/", nullptr, MS_REC | MS_PRIVATE, nullptr) != 0) return "make / private";
  if (mount("tmpfs", new_root.c_str(), "tmpfs", 0, "mode=0755") != 0) return "mount tmpfs";
  for (const std::string &name : entries) {
    const std::string source = "/" + name;
    const std::string target = new_root + source;
    struct stat st {};
    if (lstat(source.c_str(), &st) != 0) continue;
    if (S_ISLNK(st.st_mode)) {
      char link[4096];
      ssize_t n = readlink(source.c_str(), link, sizeof link - 1);
      if (n < 0) return "readlink " + source;
      link[n] = '\0';
      if (symlink(link, target.c_str()) != 0) return "symlink " + target;
    } else if (S_ISDIR(st.st_mode)) {
      if (mkdir(target.c_str(), 0755) != 0) return "mkdir " + target;
      if (mount(source.c_str(), target.c_str(), nullptr, MS_BIND | MS_REC, nullptr) != 0) return "bind " + source;
    }
  }
  for (const Bind &bind : binds) {
    // Targets live on the tmpfs only: never create anything through a bind.
    if (entries.count(first_component(bind.target)) != 0) return "bind target on a shared tree";
    const std::string target = new_root + bind.target;
    std::error_code ec;
    std::filesystem::create_directories(std::filesystem::path(target).parent_path(), ec);
    if (ec) return "create parents of " + target;
    struct stat st {};
    if (stat(bind.source.c_str(), &st) != 0) return "stat " + bind.source;
    if (S_ISDIR(st.st_mode)) {
      if (mkdir(target.c_str(), 0755) != 0) return "mkdir " + target;
    } else {
      int fd = open(target.c_str(), O_CREAT | O_WRONLY | O_CLOEXEC, 0644);
      if (fd < 0) return "create " + target;
      close(fd);
    }
    if (mount(bind.source.c_str(), target.c_str(), nullptr, MS_BIND | MS_REC, nullptr) != 0)
      return "bind " + bind.source;
  }
  if (chroot(new_root.c_str()) != 0) return "chroot";
  if (chdir(cwd.c_str()) != 0) return "chdir " + cwd;
  return std::string();
}

std::vector<std::string> child_environment(const Launch &launch) {
  std::vector<std::string> env;
  for (char **entry = environ; *entry != nullptr; ++entry) {
    std::string item = *entry;
    std::string name = item.substr(0, item.find('='));
    if (name == "ARCX_VERBOSE" || name == "ARCX_DISABLE_MSGBOX" || name == "DYLD_LIBRARY_PATH" ||
        name.rfind("STANDIN_LAUNCHERMAIN_", 0) == 0 || launch.env.count(name) != 0)
      continue;
    env.push_back(item);
  }
  for (const auto &[name, value] : launch.env) {
    if (value) env.push_back(name + "=" + *value);
  }
  return env;
}

std::vector<char *> pointers(std::vector<std::string> &strings) {
  std::vector<char *> result;
  for (std::string &s : strings) result.push_back(s.data());
  result.push_back(nullptr);
  return result;
}

}  // namespace

void copy_file(const std::string &from, const std::string &to) {
  test_support::make_dirs(std::filesystem::path(to).parent_path().string());
  std::filesystem::copy_file(from, to, std::filesystem::copy_options::overwrite_existing);
  std::filesystem::permissions(to, std::filesystem::status(from).permissions());
}

test_support::Captured run(const Launch &launch) {
  std::vector<std::string> argv = launch.argv;
  std::vector<std::string> env = child_environment(launch);
  std::vector<char *> argv_ptrs = pointers(argv);
  std::vector<char *> env_ptrs = pointers(env);

  std::string cwd = launch.cwd;
  if (cwd.empty()) cwd = std::filesystem::current_path().string();
  std::string new_root;
  std::set<std::string> entries;
  if (launch.private_root) {
    new_root = test_support::temp_folder() + "/launcher_root.XXXXXX";
    if (mkdtemp(new_root.data()) == nullptr) fail("mkdtemp");
    entries = {"bin", "sbin", "lib", "lib32", "lib64", "libx32", "usr", "etc", "dev", "proc"};
    for (const std::string &path : {launch.program, cwd, test_support::temp_folder()}) {
      std::string top = first_component(path);
      if (!top.empty() && top != "Library") entries.insert(top);
    }
    // What a bind puts at the top of the new root takes the place of the real entry.
    for (const Bind &bind : launch.binds) entries.erase(first_component(bind.target));
  }

  test_support::Captured result = test_support::fork_captured([&] {
    if (launch.private_root) {
      std::string failed = enter_private_root(new_root, entries, launch.binds, cwd);
      if (!failed.empty()) {
        std::fprintf(stderr, "private root: %s: %s\n", failed.c_str(), std::strerror(errno));
        _exit(125);
      }
    } else if (chdir(cwd.c_str()) != 0) {
      std::perror("chdir");
      _exit(125);
    }
    if (launch.uid) {
      if (setgroups(0, nullptr) != 0 || setgid(*launch.uid) != 0 || setuid(*launch.uid) != 0) {
        std::perror("setuid");
        _exit(125);
      }
    }
    execve(launch.program.c_str(), argv_ptrs.data(), env_ptrs.data());
    std::perror("execve");
    _exit(125);
  });
  if (!new_root.empty()) rmdir(new_root.c_str());
  return result;
}

bool private_root_available() {
  static const bool available = [] {
    if (geteuid() != 0) return false;
    std::string probe = test_support::temp_folder() + "/launcher_probe.XXXXXX";
    if (mkdtemp(probe.data()) == nullptr) return false;
    test_support::Captured c = test_support::fork_captured([&] {
      bool ok = unshare(CLONE_NEWNS) == 0 && mount(nullptr, "/", nullptr, MS_REC | MS_PRIVATE, nullptr) == 0 &&
                mount("tmpfs", probe.c_str(), "tmpfs", 0, "mode=0755") == 0 && chroot(probe.c_str()) == 0;
      _exit(ok ? 0 : 1);
    });
    rmdir(probe.c_str());
    return c.status == 0;
  }();
  return available;
}

}  // namespace launcher_test
