// Opens and closes codec instances from several threads at once while another thread runs the
// exports that walk the instance list: the style record, suspension, the read-only record and
// the configuration, status and about dialogs (a host that answers OK at once). Given a
// compression library, it then has pairs of instances send their first compression message at
// the same moment, each pair after a DRV_FREE, so that both load that library at once. Built
// with the thread checker (scripts/tsan.sh) it proves the guards; in the ordinary build it checks
// that every call answers as it should. Loads the library itself, as a host does, so that it
// needs nothing else of the tree. Exit 0 when all went well.
#include <dlfcn.h>
#include <unistd.h>

#include <atomic>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <string>
#include <thread>
#include <vector>

#include "zov/zovcod32.h"
#include "zov/zovcod32_dialogs.h"
#include "zov/zovvfw.h"

namespace {

struct QuietBoxes : zov::MessageBoxSink {
  int show(zov::WindowHandle, std::string_view, std::string_view, uint32_t) override {
    return zov::IDOK;
  }
};

struct AnswerOk : zov::DialogHost {
  intptr_t runModal(zov::WindowHandle, std::string_view, zov::DialogData&) override {
    return zov::IDOK;
  }
};

template <typename T>
T resolve(void* module, const char* name) {
  void* symbol = dlsym(module, name);
  if (!symbol) {
    std::fprintf(stderr, "instance_threads: %s is not exported\n", name);
    std::exit(2);
  }
  return reinterpret_cast<T>(symbol);
}

}  // namespace

int main(int argc, char** argv) {
  if (argc < 2) {
    std::fprintf(stderr, "usage: instance_threads LIBRARY [ROUNDS [COMPRESSION_LIBRARY]]\n");
    return 2;
  }
  const int rounds = argc > 2 ? std::atoi(argv[2]) : 200;
  const bool compression = argc > 3;
  // A settings folder of our own, before the library reads its settings.
  char home[] = "/tmp/zov-threads-XXXXXX";
  if (!mkdtemp(home)) return 2;
  setenv("ZOV_HOME", home, 1);
  std::string library = argv[1];
  if (compression) {
    // The codec loads the compression library from its own folder: a copy of both.
    namespace fs = std::filesystem;
    library = std::string(home) + "/libzovcod32.so";
    std::error_code ec;
    fs::copy_file(argv[1], library, ec);
    if (!ec)
      fs::copy_file(argv[3], std::string(home) + "/libzov32.so." + std::to_string(ZOV_SOVERSION),
                    ec);
    if (ec) {
      std::fprintf(stderr, "instance_threads: cannot copy the libraries: %s\n",
                   ec.message().c_str());
      return 2;
    }
  }
  void* module = dlopen(library.c_str(), RTLD_NOW | RTLD_LOCAL);
  if (!module) {
    std::fprintf(stderr, "instance_threads: cannot load %s: %s\n", library.c_str(), dlerror());
    return 2;
  }
  auto driverProc = resolve<decltype(&DriverProc)>(module, "DriverProc");
  auto getStyle = resolve<decltype(&ZOVGetStyle)>(module, "ZOVGetStyle");
  auto setStyle = resolve<decltype(&ZOVSetStyle)>(module, "ZOVSetStyle");
  auto preConfigure = resolve<decltype(&ZOVPreConfigure)>(module, "ZOVPreConfigure");
  auto postConfigure = resolve<decltype(&ZOVPostConfigure)>(module, "ZOVPostConfigure");
  auto getReadOnly = resolve<decltype(&ZOVGetReadOnly)>(module, "ZOVGetReadOnly");
  auto configure = resolve<decltype(&ZOVConfigure)>(module, "ZOVConfigure");
  auto status = resolve<decltype(&ZOVStatus)>(module, "ZOVStatus");
  auto about = resolve<decltype(&ZOVAbout)>(module, "ZOVAbout");
  auto setUiHost = resolve<decltype(&ZOVSetUiHost)>(module, "ZOVSetUiHost");
  QuietBoxes boxes;
  AnswerOk dialogs;
  setUiHost(&boxes, &dialogs);

  std::atomic<int> failures{0};
  std::atomic<bool> done{false};
  auto fail = [&](const char* what) {
    if (failures++ < 10) std::fprintf(stderr, "instance_threads: %s\n", what);
  };
  auto openZov2 = [&] {
    ICOPEN open{};
    open.dwSize = sizeof open;
    open.fccType = ICTYPE_VIDEO;
    open.fccHandler = mmioFOURCC('z', 'o', 'v', '2');
    const intptr_t id = driverProc(0, nullptr, DRV_OPEN, 0, reinterpret_cast<intptr_t>(&open));
    if (id <= 1) fail("an open failed");
    return id;
  };
  // Each opener keeps a batch open, so the list is long and every open walks it.
  constexpr int kOpeners = 3, kBatch = 8;
  std::vector<std::thread> threads;
  for (int t = 0; t < kOpeners; ++t)
    threads.emplace_back([&] {
      for (int i = 0; i < rounds; ++i) {
        intptr_t ids[kBatch];
        for (intptr_t& id : ids) id = openZov2();
        for (intptr_t id : ids)
          if (id > 1 && driverProc(uintptr_t(id), nullptr, DRV_CLOSE, 0, 0) != 1)
            fail("a close failed");
      }
    });
  // The exports answer 0 (done) or 3 (no instance of this process at that moment), the dialogs
  // 1 (OK) or 0.
  threads.emplace_back([&] {
    while (!done) {
      ZOVStyle style{};
      style.size = sizeof style;
      uint32_t r = getStyle(&style);
      if (r != 0 && r != 3) fail("ZOVGetStyle");
      if (r == 0 && (r = setStyle(&style)) != 0 && r != 3) fail("ZOVSetStyle");
      if ((r = preConfigure()) != 0 && r != 3) fail("ZOVPreConfigure");
      postConfigure();
      ZOVReadOnly ro{};
      ro.size = sizeof ro;
      if ((r = getReadOnly(&ro)) != 0 && r != 3) fail("ZOVGetReadOnly");
      ZOVRect source{0, 0, 64, 48}, dest{};
      ZOVConfigureRequest request{sizeof request, &source, &dest};
      if ((r = configure(&request)) != 0 && r != 3) fail("ZOVConfigure");
      if (status(nullptr) != 1) fail("ZOVStatus");
      if (about(nullptr) != 1) fail("ZOVAbout");
    }
  });
  for (int t = 0; t < kOpeners; ++t) threads[size_t(t)].join();
  done = true;
  threads.back().join();
  // DRV_FREE has unloaded the compression library before each pair: both of its instances find
  // it missing and load it.
  for (int i = 0; compression && i < rounds; ++i) {
    std::atomic<int> ready{0};
    std::vector<std::thread> pair;
    for (int t = 0; t < 2; ++t)
      pair.emplace_back([&] {
        const intptr_t id = openZov2();
        ++ready;
        while (ready < 2) std::this_thread::yield();
        if (id <= 1) return;
        if (driverProc(uintptr_t(id), nullptr, ICM_COMPRESS_QUERY, 0, 0) != ICERR_OK)
          fail("a first compression message failed");
        if (driverProc(uintptr_t(id), nullptr, DRV_CLOSE, 0, 0) != 1) fail("a close failed");
      });
    for (std::thread& t : pair) t.join();
    driverProc(0, nullptr, DRV_FREE, 0, 0);
  }
  setUiHost(nullptr, nullptr);
  std::error_code ignored;
  std::filesystem::remove_all(home, ignored);
  if (failures) {
    std::fprintf(stderr, "instance_threads: %d calls failed\n", failures.load());
    return 1;
  }
  std::printf("instance_threads: %d rounds of %d threads%s, every call answered\n", rounds,
              kOpeners, compression ? " and of first compression messages in pairs" : "");
  return 0;
}
