// talkgate-gadget: the simulated Talkgate as a real USB device, through configfs.

#include <dirent.h>
#include <poll.h>
#include <sys/stat.h>
#include <unistd.h>

#include <csignal>
#include <exception>
#include <iostream>
#include <memory>
#include <string>
#include <vector>

#include "cli/simulated_world.h"
#include "cli/talkgatectl.h"
#include "files/regular_file.h"
#include "gadget/gadget_options.h"
#include "gadget/talkgate_link.h"

namespace {

constexpr char kConfigfs[] = "/sys/kernel/config";
constexpr char kUdcClass[] = "/sys/class/udc";
constexpr int kPollMs = 5;

volatile std::sig_atomic_t g_stop = 0;

void onSignal(int) { g_stop = 1; }

bool isDirectory(const std::string& path) {
  struct stat entry {};
  return ::stat(path.c_str(), &entry) == 0 && S_ISDIR(entry.st_mode);
}

std::vector<std::string> presentUdcs() {
  std::vector<std::string> names;
  if (DIR* dir = ::opendir(kUdcClass)) {
    while (const dirent* entry = ::readdir(dir)) {
      if (entry->d_name[0] != '.') names.emplace_back(entry->d_name);
    }
    ::closedir(dir);
  }
  return names;
}

int run(const talkgate::gadget::GadgetOptions& options) {
  using namespace talkgate;
  if (::geteuid() != 0) {
    std::cerr << "talkgate-gadget needs root: it creates USB gadgets in configfs (run it with "
                 "sudo).\n";
    return cli::kExitFailure;
  }
  if (!isDirectory(std::string(kConfigfs) + "/usb_gadget")) {
    std::cerr << "No USB gadget configfs at " << kConfigfs
              << "/usb_gadget: load libcomposite and usb_f_hid (modprobe libcomposite "
                 "usb_f_hid) and mount configfs (mount -t configfs none "
              << kConfigfs << ").\n";
    return cli::kExitFailure;
  }
  std::string error;
  cli::SimulatedWorld world;
  if (const int status = world.build(options.world, error); status != cli::kExitOk) {
    std::cerr << error << "\n";
    return status;
  }
  if (options.ramLoaderFile) {
    constexpr std::size_t kMaxLoaderText = 1 << 20;
    std::string text, reason;
    if (!files::readRegularFile(*options.ramLoaderFile, kMaxLoaderText, text, reason)) {
      std::cerr << "Cannot read the RAM loader " << *options.ramLoaderFile << ": " << reason
                << ".\n";
      return cli::kExitBadInput;
    }
    for (const auto& talkgate : world.talkgates()) {
      if (!talkgate->loader().declareRamLoader(text)) {
        std::cerr << "The RAM loader " << *options.ramLoaderFile
                  << " is not a TI-TXT image the simulated part can hold.\n";
        return cli::kExitBadInput;
      }
    }
  }
  std::vector<std::string> udcs;
  if (!gadget::chooseUdcs(presentUdcs(), options.udc, world.talkgates().size(), udcs, error)) {
    std::cerr << error << "\n";
    return cli::kExitFailure;
  }
  for (const auto& talkgate : world.talkgates()) {
    if (options.talkgateFault == gadget::TalkgateFault::NoReply) {
      talkgate->talkgate().addFault({sim::Fault::NoReply, 1, 0, -1, -1});
    } else if (options.talkgateFault == gadget::TalkgateFault::LateReply) {
      talkgate->talkgate().addFault({sim::Fault::LateReply, 1, 1000, -1, 1});
    }
  }

  auto save = [&] {
    std::string saveError;
    if (options.world.simStateFile && !world.save(*options.world.simStateFile, saveError)) {
      std::cerr << "Cannot keep the simulated Talkgate in " << *options.world.simStateFile
                << ": " << saveError << "\n";
    }
  };
  auto say = [](const std::string& line) { std::cout << line << std::endl; };
  std::vector<std::unique_ptr<gadget::TalkgateLink>> links;
  const std::string prefix = "talkgate" + std::to_string(::getpid());
  for (std::size_t i = 0; i < udcs.size(); ++i) {
    links.push_back(std::make_unique<gadget::TalkgateLink>(
        kConfigfs, prefix + "-" + std::to_string(i + 1), *world.talkgates()[i], world.bus(),
        udcs[i], say, options.verbose));
  }
  for (auto& link : links) link->reconcile();
  std::vector<pollfd> fds(links.size());
  while (!g_stop) {
    for (std::size_t i = 0; i < links.size(); ++i) {
      fds[i] = pollfd{links[i]->fd(), links[i]->events(), 0};
    }
    ::poll(fds.data(), fds.size(), kPollMs);
    bool changed = false;
    for (std::size_t i = 0; i < links.size(); ++i) {
      links[i]->serve(fds[i].fd >= 0 ? fds[i].revents : 0);
      changed = links[i]->reconcile() || changed;
    }
    if (changed) save();
  }
  links.clear();  // unbinds and removes the gadgets before the world goes
  save();
  return cli::kExitOk;
}

}  // namespace

int main(int argc, char** argv) {
  talkgate::gadget::GadgetOptions options;
  std::string error;
  if (!talkgate::gadget::parseGadgetOptions(std::vector<std::string>(argv + 1, argv + argc),
                                            options, error)) {
    std::cerr << error << "\n";
    return talkgate::cli::kExitBadInput;
  }
  if (options.help) {
    std::cout << talkgate::gadget::gadgetHelp();
    return talkgate::cli::kExitOk;
  }
  struct sigaction action {};
  action.sa_handler = onSignal;
  for (int signal : {SIGINT, SIGTERM, SIGHUP}) ::sigaction(signal, &action, nullptr);
  std::signal(SIGPIPE, SIG_IGN);
  try {
    return run(options);
  } catch (const std::exception& e) {
    std::cerr << "talkgate-gadget: " << e.what() << "\n";
    return talkgate::cli::kExitFailure;
  }
}
