// The whole hashing pipeline (processor, reader, a hasher) over page-cached
// files, next to a plain read loop like cat's over the same files.
//
// Files live in $ZORVIK_BENCH_DIR (default /tmp/zorvik-bench) and are made
// once: pipe-mapped.bin of 256 MiB (mapped), pipe-streamed.bin of
// 1,073,741,824 bytes (streamed) and pipe-small/ with 20,000 files of 4 KiB.
// On a busy machine the threads wait for cores: the *_s_per_GiB counters
// (time on a core) then tell more than the wall-clock rates.

#include <dirent.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <string>
#include <vector>

#include <benchmark/benchmark.h>
#include <zorvik/hasher.h>
#include <zorvik/pipeline.h>
#include <zorvik/text.h>

namespace {

const unsigned long long mappedSize = 256ULL << 20;
const unsigned long long streamedSize = 1ULL << 30;
const int smallCount = 20000;
const unsigned int smallSize = 4096;

std::string benchDir() {
  const char* dir = getenv("ZORVIK_BENCH_DIR");
  std::string path = dir != nullptr ? dir : "/tmp/zorvik-bench";
  mkdir(path.c_str(), 0755);
  return path;
}

// Makes `path` of `size` non-zero bytes unless it is there already, then
// reads it once so that it is in the page cache.
bool prepare(const std::string& path, unsigned long long size) {
  struct stat status;
  if (stat(path.c_str(), &status) != 0 || static_cast<unsigned long long>(status.st_size) != size) {
    int fd = open(path.c_str(), O_CREAT | O_TRUNC | O_WRONLY, 0644);
    if (fd < 0) return false;
    std::vector<unsigned char> block(1 << 20);
    for (size_t i = 0; i < block.size(); ++i) block[i] = static_cast<unsigned char>(i * 131 + 7);
    for (unsigned long long done = 0; done < size;) {
      size_t n = static_cast<size_t>(std::min<unsigned long long>(block.size(), size - done));
      if (write(fd, block.data(), n) != static_cast<ssize_t>(n)) {
        close(fd);
        return false;
      }
      done += n;
    }
    close(fd);
  }
  int fd = open(path.c_str(), O_RDONLY);
  if (fd < 0) return false;
  static std::vector<unsigned char> sink(1 << 17);
  while (read(fd, sink.data(), sink.size()) > 0) {
  }
  close(fd);
  return true;
}

std::wstring widen(const std::string& narrow) {
  std::vector<wchar_t> wide(narrow.size() + 1);
  bytesToWide(wide.data(), narrow.c_str(), wide.size());
  return wide.data();
}

// Touches nothing: what the pipeline alone costs.
class nullHasher : public hasher {
public:
  virtual ~nullHasher() {}
  void init() override {}
  void update(unsigned char*, unsigned int) override {}
  void finalize() override {}
  const unsigned char* hash() const override { return _none; }
  int hash_size() const override { return 0; }

private:
  unsigned char _none[1] = {};
};

// Reads each byte: the memory traffic of a hasher, at no hashing cost.
class touchHasher : public hasher {
public:
  virtual ~touchHasher() {}
  void init() override { _sum = 0; }
  void update(unsigned char* data, unsigned int length) override {
    unsigned long long sum = _sum;
    for (unsigned int i = 0; i < length; i += 64) sum += data[i];
    _sum = sum;
  }
  void finalize() override {}
  const unsigned char* hash() const override { return reinterpret_cast<const unsigned char*>(&_sum); }
  int hash_size() const override { return sizeof _sum; }

private:
  unsigned long long _sum = 0;
};

// On-CPU nanoseconds of this process's threads named `name` (the kernel's
// schedstat), to tell each pipeline thread's cost apart from the time it
// waited for a core on a busy machine.
double threadCpuSeconds(const char* name) {
  double total = 0;
  DIR* tasks = opendir("/proc/self/task");
  if (tasks == nullptr) return 0;
  while (dirent* entry = readdir(tasks)) {
    if (entry->d_name[0] == '.') continue;
    std::string base = std::string("/proc/self/task/") + entry->d_name;
    char comm[32] = {};
    FILE* f = fopen((base + "/comm").c_str(), "r");
    if (f == nullptr) continue;
    bool match = fgets(comm, sizeof comm, f) != nullptr && strncmp(comm, name, strlen(name)) == 0 &&
                 comm[strlen(name)] == '\n';
    fclose(f);
    if (!match) continue;
    f = fopen((base + "/schedstat").c_str(), "r");
    unsigned long long onCpu = 0;
    if (f != nullptr && fscanf(f, "%llu", &onCpu) == 1) total += onCpu / 1e9;
    if (f != nullptr) fclose(f);
  }
  closedir(tasks);
  return total;
}

// Seconds on a core per GiB for the reader and the processor thread: the
// throughput an idle two-core machine would see is about 1 / the larger.
void reportThreadCost(benchmark::State& state, double bytes) {
  double gib = bytes / (1ULL << 30);
  if (gib <= 0) return;
  state.counters["reader_s_per_GiB"] = threadCpuSeconds("reader") / gib;
  state.counters["processor_s_per_GiB"] = threadCpuSeconds("processor") / gib;
}

template <class H>
void hashFile(benchmark::State& state, const std::string& name, unsigned long long size) {
  std::string path = benchDir() + "/" + name;
  if (!prepare(path, size)) {
    state.SkipWithError("cannot make the file (disk space?)");
    return;
  }
  std::wstring wide = widen(path);
  processor p;
  p.start();
  H h;
  for (auto _ : state) {
    p.processFile(wide.c_str(), &h);
    p.wait();
    if (p.getResult() != 0) state.SkipWithError("hashing failed");
  }
  reportThreadCost(state, static_cast<double>(state.iterations() * size));
  state.SetBytesProcessed(static_cast<int64_t>(state.iterations() * size));
}

// cat's loop: 128 KiB reads into one buffer.
void catFile(benchmark::State& state, const std::string& name, unsigned long long size) {
  std::string path = benchDir() + "/" + name;
  if (!prepare(path, size)) {
    state.SkipWithError("cannot make the file (disk space?)");
    return;
  }
  std::vector<unsigned char> buffer(128 << 10);
  timespec cpu;
  clock_gettime(CLOCK_THREAD_CPUTIME_ID, &cpu);
  const double catStart = cpu.tv_sec + cpu.tv_nsec / 1e9;
  for (auto _ : state) {
    int fd = open(path.c_str(), O_RDONLY);
    while (read(fd, buffer.data(), buffer.size()) > 0) {
    }
    close(fd);
  }
  clock_gettime(CLOCK_THREAD_CPUTIME_ID, &cpu);
  double gib = static_cast<double>(state.iterations() * size) / (1ULL << 30);
  state.counters["cat_s_per_GiB"] = (cpu.tv_sec + cpu.tv_nsec / 1e9 - catStart) / gib;
  state.SetBytesProcessed(static_cast<int64_t>(state.iterations() * size));
}

void BM_CatMapped(benchmark::State& s) { catFile(s, "pipe-mapped.bin", mappedSize); }
void BM_PipelineMappedNull(benchmark::State& s) { hashFile<nullHasher>(s, "pipe-mapped.bin", mappedSize); }
void BM_PipelineMappedTouch(benchmark::State& s) { hashFile<touchHasher>(s, "pipe-mapped.bin", mappedSize); }
void BM_PipelineMappedCrc(benchmark::State& s) { hashFile<crc>(s, "pipe-mapped.bin", mappedSize); }
void BM_CatStreamed(benchmark::State& s) { catFile(s, "pipe-streamed.bin", streamedSize); }
void BM_PipelineStreamedNull(benchmark::State& s) { hashFile<nullHasher>(s, "pipe-streamed.bin", streamedSize); }
void BM_PipelineStreamedCrc(benchmark::State& s) { hashFile<crc>(s, "pipe-streamed.bin", streamedSize); }

// Many small files, one job each, as a create run hashes them.
template <class H>
void BM_SmallFiles(benchmark::State& state) {
  std::string dir = benchDir() + "/pipe-small";
  mkdir(dir.c_str(), 0755);
  std::vector<std::wstring> paths;
  for (int i = 0; i < smallCount; ++i) {
    std::string path = dir + "/" + std::to_string(i);
    if (!prepare(path, smallSize)) {
      state.SkipWithError("cannot make the files");
      return;
    }
    paths.push_back(widen(path));
  }
  processor p;
  p.start();
  H h;
  for (auto _ : state) {
    for (const std::wstring& path : paths) {
      p.processFile(path.c_str(), &h);
      p.wait();
    }
  }
  double files = static_cast<double>(state.iterations() * paths.size());
  state.counters["processor_us_per_file"] = threadCpuSeconds("processor") * 1e6 / files;
  state.counters["reader_us_per_file"] = threadCpuSeconds("reader") * 1e6 / files;
  state.SetItemsProcessed(static_cast<int64_t>(state.iterations() * paths.size()));
}

BENCHMARK(BM_CatMapped)->Unit(benchmark::kMillisecond)->UseRealTime();
BENCHMARK(BM_PipelineMappedNull)->Unit(benchmark::kMillisecond)->UseRealTime();
BENCHMARK(BM_PipelineMappedTouch)->Unit(benchmark::kMillisecond)->UseRealTime();
BENCHMARK(BM_PipelineMappedCrc)->Unit(benchmark::kMillisecond)->UseRealTime();
BENCHMARK(BM_CatStreamed)->Unit(benchmark::kMillisecond)->UseRealTime();
BENCHMARK(BM_PipelineStreamedNull)->Unit(benchmark::kMillisecond)->UseRealTime();
BENCHMARK(BM_PipelineStreamedCrc)->Unit(benchmark::kMillisecond)->UseRealTime();
BENCHMARK_TEMPLATE(BM_SmallFiles, nullHasher)->Unit(benchmark::kMillisecond)->UseRealTime();
BENCHMARK_TEMPLATE(BM_SmallFiles, crc)->Unit(benchmark::kMillisecond)->UseRealTime();

}  // namespace

BENCHMARK_MAIN();
