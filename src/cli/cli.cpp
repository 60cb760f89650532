#include "cli/cli.h"

#include <atomic>
#include <cstdio>
#include <mutex>
#include <string>

#include <CLI/CLI.hpp>

#include "commands/commands.h"
#include "commands/digest.h"
#include "commands/pipelined_copy.h"
#include "platform/error.h"
#include "platform/platform.h"

namespace tessaly::cli {
namespace {

constexpr char kVersion[] = "0.1";
// What a shell reports for a program ended by SIGINT.
constexpr int kInterruptedExit = 130;

// Lines of a command's text with LF in place of CR LF.
std::string WithLineFeeds(const std::string& text) {
  std::string lines;
  for (char c : text) {
    if (c != '\r') lines += c;
  }
  return lines;
}

// The command line's host: the image comes from the arguments, results go to
// stdout, everything said to the user goes to stderr.
class CliHost : public commands::Host {
 public:
  CliHost(std::string image, std::ostream& out, std::ostream& err, bool verbose)
      : image_(std::move(image)), out_(out), err_(err), verbose_(verbose) {}

  std::optional<commands::ImageChoice> ChooseImage(const std::string&) override {
    return commands::ImageChoice{image_, std::nullopt};
  }
  void ShowMessage(const commands::Message& message) override {
    EndProgressLine();
    err_ << WithLineFeeds(message.text);
    if (!message.reason.empty()) err_ << ": " << message.reason;
    err_ << '\n';
    if (verbose_ && !message.details.empty()) err_ << WithLineFeeds(message.details) << '\n';
    said_something_ = true;
  }
  bool HasClipboard() const override { return false; }
  void SetClipboardText(const std::string&) override {}
  void WriteResult(const std::string& text) override { out_ << WithLineFeeds(text) << '\n'; }
  void SetProgressRange(int, int) override {}
  void SetProgressPosition(int) override {}
  void SetStatusText(const std::string& text) override {
    EndProgressLine();
    err_ << text << '\n';
  }
  void DebugOutput(const std::string& text) override {
    if (verbose_) err_ << text << '\n';
  }

  // Draws "NN% X.X MiB/s Ns" over the previous line, a few times a second.
  void ShowProgress(std::int64_t done, std::int64_t total) {
    const std::uint32_t now = platform::TickCount();
    if (!progress_started_) {
      progress_started_ = true;
      progress_start_ = now;
      last_draw_ = now;
    }
    if (done < total && now - last_draw_ < 200) return;
    last_draw_ = now;
    const double seconds = (now - progress_start_) / 1000.0;
    const double mib = done / 1048576.0;
    char line[96];
    std::snprintf(line, sizeof line, "\r%3d%%  %8.1f MiB/s  %6.1f s", Percent(done, total),
                  seconds > 0 ? mib / seconds : 0.0, seconds);
    err_ << line << std::flush;
    progress_line_open_ = true;
  }

  bool said_something() const { return said_something_; }

 private:
  static int Percent(std::int64_t done, std::int64_t total) {
    return total > 0 ? static_cast<int>(static_cast<double>(done) * 100.0 / total) : 100;
  }
  void EndProgressLine() {
    if (progress_line_open_) err_ << '\n';
    progress_line_open_ = false;
  }

  std::string image_;
  std::ostream& out_;
  std::ostream& err_;
  bool verbose_;
  bool said_something_ = false;
  bool progress_started_ = false;
  bool progress_line_open_ = false;
  std::uint32_t progress_start_ = 0;
  std::uint32_t last_draw_ = 0;
};

// A digest line as sha256sum prints it: "HEX  NAME", where a name holding a
// backslash, CR or LF has them escaped and the line starts with a backslash.
std::string DigestLine(const std::string& hex, const std::string& name) {
  std::string escaped;
  for (char c : name) {
    if (c == '\\') {
      escaped += "\\\\";
    } else if (c == '\n') {
      escaped += "\\n";
    } else if (c == '\r') {
      escaped += "\\r";
    } else {
      escaped += c;
    }
  }
  return (escaped.size() != name.size() ? "\\" : "") + hex + "  " + escaped;
}

}  // namespace

int Run(int argc, char** argv, std::ostream& out, std::ostream& err, bool err_is_terminal,
        const char* library_folder) {
  CLI::App app{"Tessaly: turns a VMDK image into a raw disk image.", "tessaly-cli"};
  app.set_version_flag("--version", std::string("tessaly-cli ") + kVersion);
  app.require_subcommand(1);
  bool verbose = false;
  app.add_flag("-v,--verbose", verbose, "Say more about failures");

  std::string image;
  CLI::App* size = app.add_subcommand("size", "Print the size of the virtual disk");
  size->add_option("IMAGE", image, "The VMDK image")->required();

  std::string target;
  CLI::App* convert = app.add_subcommand("convert", "Write the virtual disk to a raw image");
  convert->add_option("IMAGE", image, "The VMDK image")->required();
  convert->add_option("-o,--output", target,
                      "The raw image to write (default: IMAGE with the extension .dd)");
  bool follow_links = false;
  convert->add_flag("--follow-links", follow_links,
                    "Read extent files that are links leading out of the image's folder");
  commands::PipelineSettings settings;
  convert->add_flag("--sparse", settings.sparse,
                    "Leave all-zero pages of the disk as holes in the raw image");
  convert
      ->add_option("--hash", settings.digest,
                   "Print the digest of the disk (sha256, sha1 or md5) as sha256sum does")
      ->check(CLI::IsMember(commands::Digest::Names()));
  // For benchmarks and tuning, not for users: the window's chunk loop, and
  // the engine's sizes.
  std::string engine = "pipelined";
  convert->add_option("--engine", engine)->check(CLI::IsMember({"pipelined", "chunk"}))->group("");
  convert->add_option("--block-size", settings.block_size)
      ->transform(CLI::AsSizeValue(false))
      ->check(CLI::Range(64 << 10, 16 << 20))
      ->group("");
  convert->add_option("--readers", settings.readers)->check(CLI::Range(1, 16))->group("");
  convert->add_option("--depth", settings.depth)->check(CLI::Range(2, 32))->group("");

  try {
    app.parse(argc, argv);
  } catch (const CLI::CallForHelp& e) {
    return app.exit(e, out, err);
  } catch (const CLI::CallForVersion& e) {
    return app.exit(e, out, err);
  } catch (const CLI::ParseError& e) {
    app.exit(e, out, err);
    return 2;
  }
  if (engine == "chunk" && (settings.sparse || !settings.digest.empty())) {
    err << "--sparse and --hash need the default engine\n";
    return 2;
  }

  CliHost host(platform::NativePath(image), out, err, verbose);
  commands::LibSlot current_lib;
  commands::Session session{host, current_lib, library_folder};
  try {
    commands::Result result;
    if (*size) {
      result = commands::RunSizeReport(session);
    } else {
      commands::ConvertOptions options;
      options.target = platform::NativePath(target);
      options.follow_links = follow_links;
      // Ctrl-C or SIGTERM stops the copy within a chunk; the routine then
      // removes the partial target.
      std::atomic<bool> stop{false};
      std::mutex reading_mutex;
      vmdk::TLibVMDK* reading = nullptr;
      options.stop = &stop;
      options.reading = [&](vmdk::TLibVMDK* lib) {
        std::lock_guard<std::mutex> lock(reading_mutex);
        reading = lib;
      };
      platform::StopRequests stop_requests([&] {
        stop = true;
        std::lock_guard<std::mutex> lock(reading_mutex);
        if (reading != nullptr) reading->SignalAbort();
      });
      options.check_space = !settings.sparse;
      commands::PipelinedCopy pipelined(settings);
      if (engine == "pipelined") options.engine = &pipelined;
      if (err_is_terminal) {
        options.byte_progress = [&](std::int64_t done, std::int64_t total) {
          host.ShowProgress(done, total);
        };
      }
      result = commands::RunConversion(session, options);
      if (result.outcome == commands::Outcome::kDone && !settings.digest.empty()) {
        out << DigestLine(pipelined.digest(),
                          target.empty() ? commands::TargetPathFor(image) : target)
            << '\n';
      }
    }
    if (result.outcome == commands::Outcome::kDone) return 0;
    if (result.outcome == commands::Outcome::kInterrupted) return kInterruptedExit;
    if (!host.said_something() && !result.note.empty()) err << result.note << '\n';
    return 1;
  } catch (const Error& e) {
    err << e.what();
    if (verbose && !e.details().empty()) err << '\n' << e.details();
    err << '\n';
  } catch (const std::exception& e) {
    err << e.what() << '\n';
  }
  return 1;
}

}  // namespace tessaly::cli
