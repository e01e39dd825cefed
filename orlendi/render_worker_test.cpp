// The warm renderer against the cold path and in its life: the same PDF
// either way, a worker that died or overran the limit is replaced, the
// runtime folder is refused unless private, and two accounts never share a
// worker.  Every test kills the workers it started.
#include "orlendi/render_worker.h"

#include <fcntl.h>
#include <signal.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/un.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdlib>
#include <cstring>
#include <fstream>
#include <set>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

#include <gtest/gtest.h>

#include "orlendi/html_renderer.h"
#include "platform/process.h"
#include "testsupport/child_process.h"
#include "testsupport/files.h"
#include "testsupport/scoped_env.h"
#include "testsupport/temp_dir.h"

namespace kavelo::orlendi {
namespace {

const std::string kOrlendi = std::string(KAVELO_BIN_DIR) + "/orlendi";

using testsupport::ReadFile;

// The worker listening in folder: its pid and uid from the socket's peer
// credentials, {0, 0} when none answers.
std::pair<pid_t, uid_t> Worker(const std::string& folder) {
  std::string path = folder + "/" + kWorkerSocketName;
  sockaddr_un address{};
  address.sun_family = AF_UNIX;
  std::strncpy(address.sun_path, path.c_str(), sizeof address.sun_path - 1);
  int fd = socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0);
  ucred peer{};
  socklen_t length = sizeof peer;
  if (connect(fd, reinterpret_cast<const sockaddr*>(&address), sizeof address) != 0 ||
      getsockopt(fd, SOL_SOCKET, SO_PEERCRED, &peer, &length) != 0) {
    peer = ucred{};
  }
  close(fd);  // an empty request: the worker drops it
  return {peer.pid, peer.uid};
}

// The bytes process pid has written (its /proc io "wchar"); -1 unread.
long long BytesWritten(pid_t pid) {
  std::string io = ReadFile("/proc/" + std::to_string(pid) + "/io");
  size_t at = io.find("wchar:");
  return at == std::string::npos ? -1 : std::atoll(io.c_str() + at + 6);
}

bool Gone(pid_t pid) {
  std::string stat = ReadFile("/proc/" + std::to_string(pid) + "/stat");
  return stat.empty() || stat.find(") Z") != std::string::npos;
}

void EndWorker(const std::string& folder) {
  pid_t pid = Worker(folder).first;
  if (pid <= 0) return;
  kill(pid, SIGKILL);
  for (int i = 0; i < 200 && !Gone(pid); ++i) usleep(10000);
  waitpid(pid, nullptr, WNOHANG);
}

class RenderWorkerTest : public ::testing::Test {
 protected:
  void TearDown() override {
    for (const std::string& folder : workers_) EndWorker(folder);
    EndPool();
  }
  // Ends every worker of the pool in the runtime folder.
  void EndPool() {
    EndWorker(runtime_);
    for (int slot = 1; slot <= 64; ++slot) EndWorker(runtime_ + "/w" + std::to_string(slot));
  }
  std::string Write(const char* name, const std::string& text) {
    std::ofstream(root_ + "/" + name) << text;
    return root_ + "/" + name;
  }
  bool Render(const std::string& html, const std::string& css, const std::string& pdf,
              int timeLimitMs, std::string* error) {
    unlink(pdf.c_str());
    return RenderHtmlToPdf(html, css, pdf, root_ + "/error.txt", timeLimitMs, error);
  }
  // "Pages: N; Page size: W x H pts" of a PDF, from pdfinfo.
  std::string PdfShape(const std::string& pdf) {
    std::string info, shape;
    if (testsupport::RunProgram({"pdfinfo", pdf}, "", &info, nullptr, 30000) != 0) {
      return "pdfinfo failed";
    }
    for (const char* field : {"Pages:", "Page size:"}) {
      size_t at = info.find(field);
      if (at == std::string::npos) return "no " + std::string(field) + " in " + info;
      std::string line = info.substr(at, info.find('\n', at) - at);
      for (char ch : line) {
        if (ch != ' ' || shape.empty() || shape.back() != ' ') shape += ch;
      }
      shape += ";";
    }
    return shape;
  }
  testsupport::TempDir temp_{"kavelo-worker-test"};
  const std::string root_ = temp_.path();
  const std::string runtime_ = root_ + "/run";
  testsupport::ScopedEnv runtimeEnv_{"KAVELO_ORLENDI_RUNTIME", runtime_};
  testsupport::ScopedEnv coldEnv_{"KAVELO_ORLENDI_COLD", nullptr};
  std::vector<std::string> workers_;
};

TEST_F(RenderWorkerTest, WarmAndColdPrintTheSamePdf) {
  std::string paragraphs;
  for (int i = 0; i < 3; ++i) paragraphs += "<p style=\"break-after: page\">Page</p>";
  struct Case {
    const char* name;
    const char* css;
    std::string body;
    const char* expected;
  } cases[] = {
      {"A4 portrait", "@page { size: A4 portrait; margin: 10mm }", "<p>x</p>",
       "Pages: 1;Page size: 595.276 x 841.89 pts (A4);"},
      {"Letter landscape", "@page { size: letter landscape; margin: 1in }", "<h1>Sales</h1>",
       "Pages: 1;Page size: 792 x 612 pts (letter);"},
      {"three small pages", "@page { size: 100mm 50mm !important }", paragraphs,
       "Pages: 3;Page size: 283.465 x 141.732 pts;"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    std::string html = Write("a.html", "<html><body>" + c.body + "</body></html>");
    std::string css = Write("page.css", c.css);
    std::string error;
    setenv("KAVELO_ORLENDI_COLD", "1", 1);
    ASSERT_TRUE(Render(html, css, root_ + "/cold.pdf", 120000, &error)) << error;
    EXPECT_EQ(0, Worker(runtime_).first) << "the cold path started a worker";
    unsetenv("KAVELO_ORLENDI_COLD");
    ASSERT_TRUE(Render(html, css, root_ + "/warm.pdf", 120000, &error)) << error;
    pid_t worker = Worker(runtime_).first;
    EXPECT_NE(0, worker) << "no worker rendered";
    // The worker this render started wrote the PDF: the render waited for
    // it to listen rather than falling back to a cold one.
    EXPECT_GE(BytesWritten(worker), static_cast<long long>(ReadFile(root_ + "/warm.pdf").size()));
    EXPECT_EQ(c.expected, PdfShape(root_ + "/cold.pdf"));
    EXPECT_EQ(PdfShape(root_ + "/cold.pdf"), PdfShape(root_ + "/warm.pdf"));
    EndWorker(runtime_);
  }
}

// The worker keeps the system fonts from one document to the next, but never
// a font a document brought along: a later document that names the same
// family gets a system font.
TEST_F(RenderWorkerTest, AFontADocumentAddsServesNoLaterDocument) {
  const std::string face = ReadFile("/usr/share/fonts/truetype/dejavu/DejaVuSerif.ttf");
  if (face.empty()) GTEST_SKIP() << "DejaVuSerif.ttf is missing";
  static const char kDigits[] =
      "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789+/";
  std::string base64;
  for (size_t i = 0; i < face.size(); i += 3) {
    uint32_t bits = static_cast<uint8_t>(face[i]) << 16;
    if (i + 1 < face.size()) bits |= static_cast<uint8_t>(face[i + 1]) << 8;
    if (i + 2 < face.size()) bits |= static_cast<uint8_t>(face[i + 2]);
    for (size_t k = 0; k < 4; ++k) {
      base64 += i + k <= face.size() ? kDigits[(bits >> (18 - 6 * k)) & 63] : '=';
    }
  }
  std::string css = Write("page.css", "@page { size: A5 }");
  std::string own = Write("own.html",
                          "<style>@font-face { font-family: KaveloOwn; src: "
                          "url(data:font/ttf;base64," + base64 + ") } p { font-family: KaveloOwn }"
                          "</style><p>Kavelo</p>");
  std::string plain =
      Write("plain.html", "<style>p { font-family: KaveloOwn, sans-serif }</style><p>Kavelo</p>");
  struct Step {
    const std::string& html;
    bool ownFont;  // the PDF names the document's own font
  } steps[] = {{plain, false}, {own, true}, {plain, false}, {own, true}, {own, true}, {plain, false}};
  pid_t worker = 0;
  for (const Step& step : steps) {
    SCOPED_TRACE(step.html);
    std::string error;
    ASSERT_TRUE(Render(step.html, css, root_ + "/out.pdf", 120000, &error)) << error;
    EXPECT_EQ(step.ownFont, ReadFile(root_ + "/out.pdf").find("KaveloOwn") != std::string::npos);
    if (worker == 0) worker = Worker(runtime_).first;
    EXPECT_EQ(worker, Worker(runtime_).first) << "not one worker for every document";
  }
}

TEST_F(RenderWorkerTest, AWorkerThatDiedOrOverranTheLimitIsReplaced) {
  std::string html = Write("a.html", "<html><body><p>x</p></body></html>");
  std::string css = Write("page.css", "@page { size: A5 }");
  std::string rows;
  for (int i = 0; i < 4000; ++i) rows += "<tr><td>row</td><td>" + std::to_string(i) + "</td></tr>";
  std::string slow = Write("slow.html", "<html><body><table>" + rows + "</table></body></html>");
  const std::string socketPath = runtime_ + "/" + kWorkerSocketName;
  struct Case {
    const char* name;
    bool timesOut;  // a render of slow.html overruns a short limit
    bool staleSocket;  // the socket path is left behind by a dead worker
  } cases[] = {
      {"killed", false, false},
      {"killed, socket left behind", false, true},
      {"render past the limit", true, false},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    std::string error;
    ASSERT_TRUE(Render(html, css, root_ + "/a.pdf", 120000, &error)) << error;
    pid_t first = Worker(runtime_).first;
    ASSERT_NE(0, first);
    if (c.timesOut) {
      EXPECT_FALSE(Render(slow, css, root_ + "/slow.pdf", 300, &error));
      EXPECT_NE(std::string::npos, error.find("did not finish within 0.3 seconds")) << error;
      for (int i = 0; i < 200 && !Gone(first); ++i) usleep(10000);
      EXPECT_TRUE(Gone(first)) << "the worker outlived the limit";
    } else {
      EndWorker(runtime_);
    }
    if (c.staleSocket) {
      // A socket file nothing listens on, as a killed worker leaves it.
      unlink(socketPath.c_str());
      int fd = socket(AF_UNIX, SOCK_STREAM, 0);
      sockaddr_un address{};
      address.sun_family = AF_UNIX;
      std::strncpy(address.sun_path, socketPath.c_str(), sizeof address.sun_path - 1);
      ASSERT_EQ(0, bind(fd, reinterpret_cast<const sockaddr*>(&address), sizeof address));
      close(fd);
    }
    ASSERT_TRUE(Render(html, css, root_ + "/b.pdf", 120000, &error)) << error;
    pid_t second = Worker(runtime_).first;
    EXPECT_NE(0, second);
    EXPECT_NE(first, second);
    EndWorker(runtime_);
  }
}

// Renders that overlap spread over their slots of the pool, one render per
// worker: never a worker outside the slots, and each render's PDF comes out
// whole.
TEST_F(RenderWorkerTest, OverlappingRendersShareAPoolOfWorkers) {
  std::string rows;
  for (int i = 0; i < 300; ++i) rows += "<tr><td>row</td><td>" + std::to_string(i) + "</td></tr>";
  const std::string html =
      Write("rows.html", "<html><body><table>" + rows + "</table></body></html>");
  const std::string css = Write("page.css", "@page { size: A4 }");
  struct Case {
    SlotRange slots;
    int renders;
    std::set<int> slotsWithWorkers;
  } cases[] = {{{0, 1}, 2, {0}}, {{0, 2}, 2, {0, 1}}, {{0, 2}, 3, {0, 1}}, {{1, 2}, 3, {1, 2}}};
  for (const Case& c : cases) {
    SCOPED_TRACE("slots from " + std::to_string(c.slots.first) + ", " +
                 std::to_string(c.slots.count) + " of them, " + std::to_string(c.renders) +
                 " renders at once");
    std::vector<WarmResult> results(c.renders, WarmResult::kUnavailable);
    std::vector<std::thread> renders;
    for (int i = 0; i < c.renders; ++i) {
      renders.emplace_back([&, i] {
        const std::string pdf = root_ + "/pool" + std::to_string(i) + ".pdf";
        results[i] = RenderWarm(html, css, pdf, root_ + "/pool.err", "", 120000, 0, c.slots);
      });
    }
    for (std::thread& render : renders) render.join();
    std::set<int> slotsWithWorkers;
    for (int slot = 0; slot < 4; ++slot) {
      const std::string folder = slot == 0 ? runtime_ : runtime_ + "/w" + std::to_string(slot);
      if (Worker(folder).first != 0) slotsWithWorkers.insert(slot);
    }
    EXPECT_EQ(slotsWithWorkers, c.slotsWithWorkers);
    for (int i = 0; i < c.renders; ++i) {
      EXPECT_EQ(results[i], WarmResult::kRendered) << i;
      EXPECT_EQ(PdfShape(root_ + "/pool" + std::to_string(i) + ".pdf"),
                PdfShape(root_ + "/pool0.pdf"));
    }
    EndPool();
  }
}

TEST_F(RenderWorkerTest, OnlyAPrivateFolderOfTheAccountHoldsTheWorker) {
  std::string html = Write("a.html", "<html><body><p>x</p></body></html>");
  std::string css = Write("page.css", "@page { size: A5 }");
  ASSERT_EQ(0, mkdir((root_ + "/private").c_str(), 0700));
  struct Case {
    const char* name;
    std::string folder;
    mode_t mode;          // made with this mode unless 0
    const char* linkTo;   // made as a symbolic link to this folder of root_
    bool accepted;
  } cases[] = {
      {"new folder", root_ + "/new", 0, nullptr, true},
      {"open to others", root_ + "/open", 0755, nullptr, false},
      {"group may enter", root_ + "/group", 0710, nullptr, false},
      {"symbolic link to a private folder", root_ + "/link", 0, "private", false},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    if (c.mode != 0) {
      ASSERT_EQ(0, mkdir(c.folder.c_str(), 0700));
      ASSERT_EQ(0, chmod(c.folder.c_str(), c.mode));
    }
    if (c.linkTo != nullptr) {
      ASSERT_EQ(0, symlink((root_ + "/" + c.linkTo).c_str(), c.folder.c_str()));
    }
    setenv("KAVELO_ORLENDI_RUNTIME", c.folder.c_str(), 1);
    workers_.push_back(c.folder);
    std::string error;
    EXPECT_EQ(c.accepted ? c.folder : "", WorkerRuntimeFolder(&error)) << error;
    // Refused or not, the document prints; only a private folder gets a worker.
    ASSERT_TRUE(Render(html, css, root_ + "/a.pdf", 120000, &error)) << error;
    EXPECT_EQ(c.accepted, Worker(c.folder).first != 0);
  }
}

TEST_F(RenderWorkerTest, TwoAccountsNeverShareAWorker) {
  if (getuid() != 0) GTEST_SKIP() << "needs root to run orlendi as nobody";
  const uid_t nobody = 65534;
  // Everything nobody's orlendi needs: the HTML and room for its info file,
  // a folder printer, TMPDIR.
  ASSERT_EQ(0, chmod(root_.c_str(), 01777));
  std::string html = Write("a.html", "<html><body><p>x</p></body></html>");
  for (const char* sub : {"/printers", "/printers/P", "/tmp"}) {
    ASSERT_EQ(0, mkdir((root_ + sub).c_str(), 0777));
    ASSERT_EQ(0, chmod((root_ + sub).c_str(), 01777));
  }
  std::ofstream(root_ + "/printers/P/printer.conf") << "paper = A4\n";
  ASSERT_EQ(0, mkdir((root_ + "/xdg").c_str(), 0700));  // root's XDG_RUNTIME_DIR
  const std::string keys = "html=" + html + ";printerName=P;copy=1;orien=1;";
  const std::string nobodyDefault =
      access("/run/user/65534", F_OK) == 0 ? "/run/user/65534/kavelo" : "/tmp/kavelo-65534-render";
  struct Case {
    const char* name;
    const char* runtime;  // KAVELO_ORLENDI_RUNTIME for both, or unset
    std::string rootFolder, nobodyFolder;
    bool nobodyWarm;  // nobody's orlendi finds a folder of its own
  } cases[] = {
      {"each account's default folder", nullptr, root_ + "/xdg/kavelo", nobodyDefault, true},
      {"one folder named for both", "/shared", root_ + "/shared", root_ + "/shared", false},
  };
  testsupport::ScopedEnv spooler("KAVELO_SPOOLER", "dir:" + root_ + "/printers");
  testsupport::ScopedEnv tmp("TMPDIR", root_ + "/tmp");
  testsupport::ScopedEnv xdg("XDG_RUNTIME_DIR", root_ + "/xdg");
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    if (c.runtime != nullptr) {
      setenv("KAVELO_ORLENDI_RUNTIME", (root_ + c.runtime).c_str(), 1);
    } else {
      unsetenv("KAVELO_ORLENDI_RUNTIME");
    }
    workers_.push_back(c.rootFolder);
    workers_.push_back(c.nobodyFolder);
    EndWorker(c.nobodyFolder);
    std::vector<std::vector<std::string>> runs = {
        {kOrlendi, kOrlendi, kOrlendi, keys},
        {"setpriv", "--reuid=65534", "--regid=65534", "--clear-groups", kOrlendi, kOrlendi,
         kOrlendi, keys}};
    for (const auto& args : runs) {
      unlink((root_ + "/a.info").c_str());
      platform::Process orlendi;
      ASSERT_EQ(0, orlendi.Start(args, false));
      int exitCode = -1;
      ASSERT_EQ(0, orlendi.Wait(120000, &exitCode));
      EXPECT_EQ(0, exitCode) << args[0];
    }
    auto rootWorker = Worker(c.rootFolder);
    auto nobodyWorker = Worker(c.nobodyFolder);
    EXPECT_NE(0, rootWorker.first);
    EXPECT_EQ(0u, rootWorker.second);
    if (c.nobodyWarm) {
      EXPECT_NE(0, nobodyWorker.first);
      EXPECT_EQ(nobody, nobodyWorker.second);
      EXPECT_NE(rootWorker.first, nobodyWorker.first);
      struct stat info;
      ASSERT_EQ(0, stat((c.nobodyFolder + "/" + kWorkerSocketName).c_str(), &info));
      EXPECT_EQ(nobody, info.st_uid);
    } else {
      EXPECT_EQ(rootWorker, nobodyWorker);  // root's worker alone, nobody printed cold
    }
    EndWorker(c.rootFolder);
    EndWorker(c.nobodyFolder);
  }
}

}  // namespace
}  // namespace kavelo::orlendi
