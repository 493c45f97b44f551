// Multipart reading throughput: a body with one large file part, read from
// memory in 64 KB pieces (as from a pipe) and streamed into a temporary
// file, side by side with the floor of that job: the same bytes copied into a
// file in window-sized blocks with no scanning at all.
#include <benchmark/benchmark.h>
#include <fcntl.h>
#include <unistd.h>

#include <cstdio>
#include <cstring>
#include <filesystem>
#include <string>
#include <vector>

#include "http/form_data.h"

namespace {

const std::string& Body(std::size_t fileSize) {
  static std::string body;
  if (body.size() < fileSize) {
    const std::string boundary = "--------------------------grafolio4f1c2a9e";
    body = boundary + "\r\nContent-Disposition: form-data; name=\"style\"\r\n\r\n3\r\n" + boundary +
           "\r\nContent-Disposition: form-data; name=\"filename\"; filename=\"big.xls\"\r\n"
           "Content-Type: application/vnd.ms-excel\r\n\r\n";
    std::string data(fileSize, '\0');
    for (std::size_t i = 0; i < fileSize; ++i) data[i] = static_cast<char>((i * 131) ^ (i >> 9));
    body += data + "\r\n" + boundary + "--\r\n";
  }
  return body;
}

std::string Folder() {
  const std::string folder = std::filesystem::temp_directory_path().string() + "/grafolio-bench-multipart/";
  std::filesystem::create_directories(folder);
  return folder;
}

void ReadMultipart(benchmark::State& state) {
  const std::size_t size = static_cast<std::size_t>(state.range(0)) << 20;
  const std::string& body = Body(size);
  const std::string folder = Folder();
  for (auto _ : state) {
    std::size_t pos = 0;
    TMultipartInput input;
    input.ContentLength = static_cast<std::int64_t>(body.size());
    input.Folder = folder;
    input.Read = [&](void* buffer, int count) {
      const std::size_t n = std::min({static_cast<std::size_t>(count), std::size_t(65536), body.size() - pos});
      std::memcpy(buffer, body.data() + pos, n);
      pos += n;
      return static_cast<int>(n);
    };
    std::vector<TUploadFile> files;  // closing them removes them
    const std::string content = ReadMultipartBody(input, files);
    if (content.empty() || files.size() != 1) state.SkipWithError("body not read");
  }
  state.SetBytesProcessed(static_cast<std::int64_t>(state.iterations()) * static_cast<std::int64_t>(body.size()));
}

void CopyToFile(benchmark::State& state) {
  const std::size_t size = static_cast<std::size_t>(state.range(0)) << 20;
  const std::string& body = Body(size);
  const std::string path = Folder() + "copy.tmp";
  std::vector<char> window(TMultipartInput::kWindowSize);
  for (auto _ : state) {
    const int fd = ::open(path.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0600);
    for (std::size_t pos = 0; pos < body.size();) {
      const std::size_t n = std::min(window.size(), body.size() - pos);
      for (std::size_t got = 0; got < n;) {
        const std::size_t piece = std::min<std::size_t>(65536, n - got);
        std::memcpy(window.data() + got, body.data() + pos + got, piece);
        got += piece;
      }
      if (::write(fd, window.data(), n) != static_cast<ssize_t>(n)) state.SkipWithError("write failed");
      pos += n;
    }
    ::close(fd);
    std::remove(path.c_str());
  }
  state.SetBytesProcessed(static_cast<std::int64_t>(state.iterations()) * static_cast<std::int64_t>(body.size()));
}

}  // namespace

BENCHMARK(ReadMultipart)->Arg(256)->Unit(benchmark::kMillisecond)->UseRealTime();
BENCHMARK(CopyToFile)->Arg(256)->Unit(benchmark::kMillisecond)->UseRealTime();
BENCHMARK_MAIN();
