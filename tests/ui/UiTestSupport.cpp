// ZIP and BMP writers for the tests, plus the start-up every UI test runs under.
#include "UiTestSupport.h"

#include <zlib.h>

#include <cstring>

#include <gtest/gtest.h>

#include "ui/core/GlobalManager.h"

namespace ui_test {
namespace {

void Put16(std::string& out, uint16_t v) {
  out += static_cast<char>(v & 0xFF);
  out += static_cast<char>(v >> 8);
}

void Put32(std::string& out, uint32_t v) {
  Put16(out, static_cast<uint16_t>(v & 0xFFFF));
  Put16(out, static_cast<uint16_t>(v >> 16));
}

std::string RawDeflate(const std::string& data) {
  z_stream stream;
  std::memset(&stream, 0, sizeof(stream));
  deflateInit2(&stream, 9, Z_DEFLATED, -MAX_WBITS, 8, Z_DEFAULT_STRATEGY);
  std::string out(deflateBound(&stream, static_cast<uLong>(data.size())) + 16, '\0');
  stream.next_in = reinterpret_cast<Bytef*>(const_cast<char*>(data.data()));
  stream.avail_in = static_cast<uInt>(data.size());
  stream.next_out = reinterpret_cast<Bytef*>(&out[0]);
  stream.avail_out = static_cast<uInt>(out.size());
  deflate(&stream, Z_FINISH);
  out.resize(stream.total_out);
  deflateEnd(&stream);
  return out;
}

// Every UI test runs with the resource service started over an empty folder and GDI+ up.
class UiEnvironment : public ::testing::Environment {
 public:
  void SetUp() override {
    ui::GlobalManager::Instance().Startup(MakeTempFolder(L"root"), nullptr, false, L"theme",
                                          L"lang");
  }
  void TearDown() override { ui::GlobalManager::Instance().Shutdown(); }
};

const auto* const kEnvironment = ::testing::AddGlobalTestEnvironment(new UiEnvironment);

}  // namespace

std::string MakeZip(const std::vector<ZipEntry>& entries) {
  std::string out;
  std::string directory;
  for (const ZipEntry& entry : entries) {
    const std::string payload = entry.deflate ? RawDeflate(entry.data) : entry.data;
    const uint32_t crc = static_cast<uint32_t>(
        crc32(0, reinterpret_cast<const Bytef*>(entry.data.data()),
              static_cast<uInt>(entry.data.size())));
    const uint32_t offset = static_cast<uint32_t>(out.size());
    const uint16_t method = entry.deflate ? 8 : 0;
    Put32(out, 0x04034b50);
    Put16(out, 20);
    Put16(out, 0);
    Put16(out, method);
    Put32(out, 0);
    Put32(out, crc);
    Put32(out, static_cast<uint32_t>(payload.size()));
    Put32(out, static_cast<uint32_t>(entry.data.size()));
    Put16(out, static_cast<uint16_t>(entry.name.size()));
    Put16(out, 0);
    out += entry.name + payload;

    Put32(directory, 0x02014b50);
    Put16(directory, 20);
    Put16(directory, 20);
    Put16(directory, 0);
    Put16(directory, method);
    Put32(directory, 0);
    Put32(directory, crc);
    Put32(directory, static_cast<uint32_t>(payload.size()));
    Put32(directory, static_cast<uint32_t>(entry.data.size()));
    Put16(directory, static_cast<uint16_t>(entry.name.size()));
    Put16(directory, 0);
    Put16(directory, 0);
    Put16(directory, 0);
    Put16(directory, 0);
    Put32(directory, 0);
    Put32(directory, offset);
    directory += entry.name;
  }
  const uint32_t directory_offset = static_cast<uint32_t>(out.size());
  out += directory;
  Put32(out, 0x06054b50);
  Put16(out, 0);
  Put16(out, 0);
  Put16(out, static_cast<uint16_t>(entries.size()));
  Put16(out, static_cast<uint16_t>(entries.size()));
  Put32(out, static_cast<uint32_t>(directory.size()));
  Put32(out, directory_offset);
  Put16(out, 0);
  return out;
}

std::wstring MakeTempFolder(const wchar_t* tag) {
  wchar_t temp[MAX_PATH] = {};
  ::GetTempPathW(MAX_PATH, temp);
  static int counter = 0;
  wchar_t name[MAX_PATH] = {};
  swprintf(name, MAX_PATH, L"%lsui_tests_%lu_%ls_%d\\", temp, ::GetCurrentProcessId(), tag,
           ++counter);
  ::CreateDirectoryW(name, nullptr);
  return name;
}

bool WriteFile(const std::wstring& path, const std::string& bytes) {
  HANDLE file = ::CreateFileW(path.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS,
                              FILE_ATTRIBUTE_NORMAL, nullptr);
  if (file == INVALID_HANDLE_VALUE) return false;
  DWORD written = 0;
  const BOOL ok = ::WriteFile(file, bytes.data(), static_cast<DWORD>(bytes.size()), &written,
                              nullptr);
  ::CloseHandle(file);
  return ok && written == bytes.size();
}

bool PumpUntil(const std::function<bool()>& done, DWORD timeout_ms) {
  const DWORD deadline = ::GetTickCount() + timeout_ms;
  // A periodic timer so GetMessage returns to re-check the deadline even when nothing else comes.
  const UINT_PTR beat = ::SetTimer(nullptr, 0, 20, nullptr);
  bool ok = done();
  MSG msg;
  while (!ok && static_cast<LONG>(deadline - ::GetTickCount()) > 0 &&
         ::GetMessageW(&msg, nullptr, 0, 0) > 0) {
    ::TranslateMessage(&msg);
    ::DispatchMessageW(&msg);
    ok = done();
  }
  ::KillTimer(nullptr, beat);
  return ok;
}

}  // namespace ui_test
