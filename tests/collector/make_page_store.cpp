// Writes a store for the browser test of the pages: hand-made crashes with frames, symbols and
// hostile texts, their screenshot, and the machines' hardware profiles and telemetry.
//
//   make_page_store OUT_DIR SCREENSHOT.jpg
#include <cstdio>
#include <ctime>
#include <filesystem>
#include <string>

#include "hand_made_crash.h"
#include "store/store.h"

using namespace collector;

namespace {

constexpr char kMachineA[] = "0123456789ABCDEF";
constexpr char kMachineB[] = "FEDCBA9876543210";
constexpr char kSignature[] = "DrawScene(Scene const&) | RunFrame<Game>(int) | WinMain";
constexpr char kHostileSignature[] = "<img src=x onerror=\"document.title='pwned'\"> | Load";

StoredReport Report(const char* machine, double received, uint32_t key) {
  StoredReport r;
  r.received = received;
  r.sender = 0x7F000001;
  std::snprintf(r.machine_id, sizeof r.machine_id, "%s", machine);
  r.identity4 = 300;
  r.identity3 = 20;
  r.identity1 = 4242;
  r.wire_key = 0x00140000 | key;
  return r;
}

}  // namespace

int main(int argc, char** argv) {
  if (argc != 3) {
    std::fprintf(stderr, "usage: make_page_store OUT_DIR SCREENSHOT.jpg\n");
    return 2;
  }
  std::string out = argv[1];
  std::filesystem::create_directories(out + "/report-1");
  std::filesystem::copy_file(argv[2], out + "/report-1/screenshot.jpg",
                             std::filesystem::copy_options::overwrite_existing);
  std::string error;
  std::unique_ptr<Store> store = Store::Open(out + "/collector.db", false, &error);
  if (!store) {
    std::fprintf(stderr, "make_page_store: %s\n", error.c_str());
    return 1;
  }
  double now = static_cast<double>(std::time(nullptr));
  StoredCrash first = collector_test::HandMadeCrash(kMachineA, now - 7200, kSignature);
  first.dir = out + "/report-1";
  first.screenshot_file = out + "/report-1/screenshot.jpg";
  first.screenshot_width = 37;
  first.screenshot_height = 23;
  int64_t id = store->AddCrash(first);
  store->AddCrash(collector_test::HandMadeCrash(kMachineB, now - 3600, kSignature));
  store->AddCrash(collector_test::HandMadeCrash(kMachineB, now - 1800, kSignature));
  store->AddCrash(collector_test::HandMadeCrash(kMachineA, now - 600, kHostileSignature));

  std::vector<StoredReport> reports;
  StoredReport profile = Report(kMachineA, now - 8000, 18);
  profile.kind = KIND_TEXT;
  profile.text = std::string("id=") + kMachineA + "&cname=Intel(R) Core(TM) <b>i7</b>&cvendor=Intel&mem1=16384&dx=9";
  reports.push_back(profile);
  for (int i = 0; i < 50; ++i) {
    StoredReport frames = Report(i % 2 ? kMachineA : kMachineB, now - 3600.0 * (i % 5), 100);
    frames.kind = KIND_NUMBERS;
    frames.value = 600 + static_cast<uint32_t>(i);
    reports.push_back(frames);
  }
  StoredReport note = Report(kMachineB, now - 60, 104);
  note.kind = KIND_TEXT;
  note.text = collector_test::kScriptText;
  reports.push_back(note);
  if (id <= 0 || !store->AddReports(reports)) {
    std::fprintf(stderr, "make_page_store: the store refused a row\n");
    return 1;
  }
  std::printf("%lld\n", static_cast<long long>(id));
  return 0;
}
