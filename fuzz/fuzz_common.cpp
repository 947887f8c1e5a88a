#include "fuzz/fuzz_common.h"

#include <unistd.h>

#include <atomic>
#include <filesystem>
#include <fstream>

#include "core/detect.h"
#include "sqlite3/parser_factory.h"

namespace veltrane::fuzz {

bool FuzzObserver::ChooseDatabaseFile(FileSelection& selection) {
  const FileDescription d = DescribeFile(path_, selection, *this);
  if (!d.pathAccepted) return false;
  if (mode % 3 != 0) {
    ManualChoice choice;
    choice.formatVersion = mode % 3 == 1 ? 2 : 1;
    choice.pageSize = uint64_t{512} << (pageSizeByte % 8);
    choice.utf16 = (encodingByte & 1) != 0;
    choice.headerOffset = 0;
    ApplyManualChoice(choice, selection, d.fileSize);
  }
  return true;
}

InputFile::InputFile(const uint8_t* data, size_t size) {
  static std::atomic<unsigned> counter{0};
  folder_ = (std::filesystem::temp_directory_path() /
             ("veltrane-fuzz-" + std::to_string(::getpid()) + "-" + std::to_string(counter++)))
                .string();
  std::filesystem::create_directories(folder_);
  path_ = folder_ + "/input.db";
  std::ofstream out(path_, std::ios::binary);
  out.write(reinterpret_cast<const char*>(data), static_cast<std::streamsize>(size));
}

InputFile::~InputFile() {
  std::error_code ec;
  std::filesystem::remove_all(folder_, ec);
}

bool SplitInput(const uint8_t* data, size_t size, FuzzObserver& observer, const uint8_t*& file, size_t& fileSize) {
  if (size < 3) return false;
  observer.mode = data[0];
  observer.pageSizeByte = data[1];
  observer.encodingByte = data[2];
  file = data + 3;
  fileSize = size - 3;
  return true;
}

std::unique_ptr<RecoverySession> Scan(FuzzObserver& observer) {
  auto session = std::make_unique<RecoverySession>(observer, MakeParser);
  session->OpenFile();
  session->WaitForWorker();
  return session;
}

}  // namespace veltrane::fuzz
