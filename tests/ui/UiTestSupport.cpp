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
    const uint32_t crc =
        static_cast<uint32_t>(crc32(0, reinterpret_cast<const Bytef*>(entry.data.data()),
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

std::string MakeGif(int width, int height, const std::vector<DWORD>& palette,
                    const std::vector<int>& frames, int delay_cs) {
  std::string out = "GIF89a";
  Put16(out, static_cast<uint16_t>(width));
  Put16(out, static_cast<uint16_t>(height));
  out += static_cast<char>(0xF1);  // a global table of four colors
  out += '\0';
  out += '\0';
  for (int i = 0; i < 4; ++i) {
    const DWORD rgb = i < static_cast<int>(palette.size()) ? palette[i] : 0;
    out += static_cast<char>((rgb >> 16) & 0xFF);
    out += static_cast<char>((rgb >> 8) & 0xFF);
    out += static_cast<char>(rgb & 0xFF);
  }
  out += std::string("\x21\xFF\x0BNETSCAPE2.0\x03\x01\x00\x00\x00", 19);
  for (int index : frames) {
    out += std::string("\x21\xF9\x04\x04", 4);
    Put16(out, static_cast<uint16_t>(delay_cs));
    out += std::string("\x00\x00", 2);
    out += '\x2C';
    Put32(out, 0);
    Put16(out, static_cast<uint16_t>(width));
    Put16(out, static_cast<uint16_t>(height));
    out += '\0';
    // 3-bit codes; a clear code every two pixels keeps the table from ever growing a bit.
    std::vector<int> codes;
    for (int pixel = 0; pixel < width * height; ++pixel) {
      if (pixel % 2 == 0) codes.push_back(4);
      codes.push_back(index);
    }
    codes.push_back(5);
    std::string data;
    uint32_t bits = 0;
    int bit_count = 0;
    for (int code : codes) {
      bits |= static_cast<uint32_t>(code) << bit_count;
      bit_count += 3;
      while (bit_count >= 8) {
        data += static_cast<char>(bits & 0xFF);
        bits >>= 8;
        bit_count -= 8;
      }
    }
    if (bit_count > 0) data += static_cast<char>(bits & 0xFF);
    out += '\x02';
    for (size_t at = 0; at < data.size(); at += 255) {
      const std::string block = data.substr(at, 255);
      out += static_cast<char>(block.size());
      out += block;
    }
    out += '\0';
  }
  out += '\x3B';
  return out;
}

std::string MakePng(int width, int height, const std::function<DWORD(int, int)>& argb) {
  auto put_be32 = [](std::string& to, uint32_t v) {
    for (int shift = 24; shift >= 0; shift -= 8) to += static_cast<char>((v >> shift) & 0xFF);
  };
  auto chunk = [&](std::string& to, const char* type, const std::string& body) {
    put_be32(to, static_cast<uint32_t>(body.size()));
    const std::string typed = std::string(type, 4) + body;
    to += typed;
    put_be32(to, static_cast<uint32_t>(crc32(0, reinterpret_cast<const Bytef*>(typed.data()),
                                             static_cast<uInt>(typed.size()))));
  };
  std::string header;
  put_be32(header, static_cast<uint32_t>(width));
  put_be32(header, static_cast<uint32_t>(height));
  header += std::string("\x08\x06\x00\x00\x00", 5);  // 8-bit RGBA
  std::string raw;
  for (int y = 0; y < height; ++y) {
    raw += '\0';
    for (int x = 0; x < width; ++x) {
      const DWORD c = argb(x, y);
      raw += static_cast<char>((c >> 16) & 0xFF);
      raw += static_cast<char>((c >> 8) & 0xFF);
      raw += static_cast<char>(c & 0xFF);
      raw += static_cast<char>((c >> 24) & 0xFF);
    }
  }
  uLongf packed_size = compressBound(static_cast<uLong>(raw.size()));
  std::string packed(packed_size, '\0');
  compress2(reinterpret_cast<Bytef*>(&packed[0]), &packed_size,
            reinterpret_cast<const Bytef*>(raw.data()), static_cast<uLong>(raw.size()), 9);
  packed.resize(packed_size);
  std::string out("\x89PNG\r\n\x1A\n", 8);
  chunk(out, "IHDR", header);
  chunk(out, "IDAT", packed);
  chunk(out, "IEND", std::string());
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

void AddTextColors(std::initializer_list<std::pair<const wchar_t*, const wchar_t*>> colors) {
  for (const auto& color : colors)
    ui::GlobalManager::Instance().AddTextColor(color.first, color.second);
}

bool WriteFile(const std::wstring& path, const std::string& bytes) {
  HANDLE file = ::CreateFileW(path.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS,
                              FILE_ATTRIBUTE_NORMAL, nullptr);
  if (file == INVALID_HANDLE_VALUE) return false;
  DWORD written = 0;
  const BOOL ok =
      ::WriteFile(file, bytes.data(), static_cast<DWORD>(bytes.size()), &written, nullptr);
  ::CloseHandle(file);
  return ok && written == bytes.size();
}

}  // namespace ui_test
