// A child creates, edits, recycles, returns and deletes notes in a loop and is
// killed at a random moment; a fresh load must still find every note that
// existed before the interrupted operation, each one readable.
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cstdlib>
#include <map>
#include <random>
#include <set>
#include <sstream>

#include "note_fixture.h"
#include "trace_capture.h"

namespace {

using namespace note_test;

void PlaceAt0(int, const std::string&, float pos[3]) { pos[0] = pos[1] = pos[2] = 0.0f; }

void Report(int fd, const std::string& line) {
  const std::string text = line + "\n";
  (void)!write(fd, text.data(), text.size());
}

// The board side of the loop: runs until killed.
[[noreturn]] void ChildLoop(const std::string& dir, int fd, unsigned seed) {
  OvTraceSetQuiet(true);
  OvNoteStore s;
  OvBoardLoad load;
  if (!s.Open(dir) || !s.LoadNotes(load, PlaceAt0)) _exit(3);
  std::vector<OvBoardNote> board = load.notes;
  std::mt19937 rng(seed);
  for (uint8_t tag = 0;; ++tag) {
    std::vector<OvRecycledNote> bin;
    s.ListRecycled(bin);
    const int op = int(rng() % 5);
    if ((op == 0 && board.size() < 6) || board.empty()) {
      const std::string name = s.NewNoteFileName(int(rng() % 4));
      Report(fd, "B create " + name);
      s.WriteImage(name, MakeImage(tag).data());
      board.insert(board.begin(), OvBoardNote{name, name[0] - '0', {float(tag), 256, 0}});
      s.SaveNotes(board, {});
    } else if (op == 1) {
      const std::string name = board[rng() % board.size()].file;
      Report(fd, "B edit " + name);
      s.WriteImage(name, MakeImage(tag).data());
      s.SaveNotes(board, {});
    } else if (op == 2) {
      const OvBoardNote note = board.front();
      Report(fd, "B recycle " + note.file);
      board.erase(board.begin());
      s.RecycleNote(note.file);
      s.SaveNotes(board, {});
    } else if (op == 3 && !bin.empty()) {
      const std::string name = bin[rng() % bin.size()].file;
      Report(fd, "B return " + name);
      s.ReturnNote(name);
      board.insert(board.begin(), OvBoardNote{name, name[0] - '0', {float(tag), 256, 0}});
      s.SaveNotes(board, {});
    } else if (!bin.empty()) {
      const std::string name = bin.front().file;
      Report(fd, "B delete " + name);
      s.DeleteRecycled(name);
    } else {
      continue;
    }
    Report(fd, "D");
  }
}

enum class Where { Board, Bin };

TEST(NoteCrash, KilledAtRandomMomentsLosesNoNote) {
  const char* env = std::getenv("OV_NOTE_CRASH_TRIALS");
  const int trials = env ? std::atoi(env) : 200;
  const std::string dir = MakeTempFolder();
  ASSERT_FALSE(dir.empty());
  std::map<std::string, Where> model;  // every note that must exist
  std::mt19937 rng(12345);
  int interrupted = 0, failures = 0;
  const auto start = std::chrono::steady_clock::now();
  for (int trial = 0; trial < trials && failures < 5; ++trial) {
    int fds[2];
    ASSERT_EQ(pipe(fds), 0);
    const pid_t pid = fork();
    ASSERT_GE(pid, 0);
    if (pid == 0) {
      close(fds[0]);
      ChildLoop(dir, fds[1], unsigned(trial));
    }
    close(fds[1]);
    usleep(useconds_t(rng() % 40000));
    kill(pid, SIGKILL);
    int status = 0;
    waitpid(pid, &status, 0);
    std::string log;
    char buf[4096];
    for (ssize_t n; (n = read(fds[0], buf, sizeof buf)) > 0;) log.append(buf, size_t(n));
    close(fds[0]);

    // Replay the completed operations; keep the one in flight aside.
    std::string flightOp, flightName;
    std::istringstream lines(log);
    for (std::string line; std::getline(lines, line);) {
      if (line == "D") {
        if (flightOp == "create" || flightOp == "return") model[flightName] = Where::Board;
        if (flightOp == "recycle") model[flightName] = Where::Bin;
        if (flightOp == "delete") model.erase(flightName);
        flightOp.clear();
      } else {
        std::istringstream words(line);
        std::string b;
        words >> b >> flightOp >> flightName;
      }
    }
    if (!flightOp.empty()) ++interrupted;

    OvNoteStore fresh;
    OvBoardLoad load;
    TraceCapture quiet;
    ASSERT_TRUE(fresh.Open(dir));
    ASSERT_TRUE(fresh.LoadNotes(load, PlaceAt0));
    std::vector<OvRecycledNote> bin;
    ASSERT_TRUE(fresh.ListRecycled(bin));
    std::map<std::string, Where> found;
    std::vector<uint8_t> image;
    for (const OvBoardNote& n : load.notes) {
      found[n.file] = Where::Board;
      if (!fresh.ReadImage(n.file, false, image)) ++failures, ADD_FAILURE() << "trial " << trial << ": " << n.file;
    }
    for (const OvRecycledNote& n : bin) found[n.file] = Where::Bin;
    for (const auto& [name, where] : model) {
      if (name == flightName && !flightOp.empty()) continue;  // either side of the move is right
      auto it = found.find(name);
      if (it == found.end() || it->second != where)
        ++failures, ADD_FAILURE() << "trial " << trial << ": note " << name << " lost or misplaced";
    }
    for (const auto& [name, where] : found)
      if (!model.count(name) && !(flightOp == "create" && name == flightName))
        ++failures, ADD_FAILURE() << "trial " << trial << ": unexpected note " << name;
    for (const std::string& f : std::vector<std::string>{dir, dir + "recycle/"})
      for (const auto& e : fs::directory_iterator(f))
        if (e.path().filename().string().rfind(OV_TEMP_PREFIX, 0) == 0)
          ++failures, ADD_FAILURE() << "temporary file left: " << e.path();
    model = found;
  }
  const double seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
  std::printf("note crash trials: %d, interrupted mid-operation: %d, failures: %d, %.1f s\n", trials, interrupted,
              failures, seconds);
  EXPECT_EQ(failures, 0);
  EXPECT_GT(interrupted, trials / 4);
  std::error_code ec;
  fs::remove_all(dir, ec);
}

}  // namespace
