// A strict reader of the DER encoding that signatures and certificates arrive in.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>

namespace der {

constexpr uint8_t kInteger = 0x02;
constexpr uint8_t kBitString = 0x03;
constexpr uint8_t kOctetString = 0x04;
constexpr uint8_t kNull = 0x05;
constexpr uint8_t kOid = 0x06;
constexpr uint8_t kUtf8String = 0x0C;
constexpr uint8_t kPrintableString = 0x13;
constexpr uint8_t kTeletexString = 0x14;
constexpr uint8_t kIa5String = 0x16;
constexpr uint8_t kUniversalString = 0x1C;
constexpr uint8_t kBmpString = 0x1E;
constexpr uint8_t kSequence = 0x30;
constexpr uint8_t kSet = 0x31;
// Context-specific tags as they appear in the signature's structures.
constexpr uint8_t kExplicit0 = 0xA0;
constexpr uint8_t kImplicit1 = 0xA1;

// One element: where its encoding starts, its tag, and its contents.
struct Element {
  uint8_t tag = 0;
  const uint8_t* start = nullptr;  // the tag byte
  size_t encoded_size = 0;         // tag, length and contents
  const uint8_t* value = nullptr;
  size_t size = 0;
};

// Reads the elements of one level in order. Only the definite, shortest length forms and
// one-byte tags are accepted: a signature that can be written two ways can hide a second
// meaning, and what is hashed must have exactly one encoding. Once a read fails, every later
// read fails too, so a caller may check `ok()` once at the end.
class Reader {
 public:
  Reader(const uint8_t* data, size_t size) : next_(data), end_(data + size) {}
  explicit Reader(const Element& element) : Reader(element.value, element.size) {}

  // The next element, whatever its tag.
  bool Next(Element& out);
  // The next element, which must carry `tag`.
  bool Expect(uint8_t tag, Element& out);
  // Reads the next element only when it carries `tag`; false (and no failure) otherwise.
  bool Optional(uint8_t tag, Element& out);
  bool AtEnd() const { return ok_ && next_ == end_; }
  bool ok() const { return ok_; }

 private:
  const uint8_t* next_;
  const uint8_t* end_;
  bool ok_ = true;
};

// The element that spans all of `data`, or false when anything else is there.
bool Whole(const uint8_t* data, size_t size, Element& out);

// Dotted text of an object identifier's contents ("1.2.840.113549.1.7.2"); empty when
// malformed.
std::string OidText(const Element& oid);

// AlgorithmIdentifier: the algorithm's identifier, parameters (if any) ignored.
bool ReadAlgorithm(Reader& reader, std::string& oid);

}  // namespace der
