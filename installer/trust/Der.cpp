// DER elements read by bounds-checked pointer steps; nothing is copied.
#include "installer/trust/Der.h"

namespace der {

bool Reader::Next(Element& out) {
  if (!ok_ || next_ == end_) return ok_ = false;
  const uint8_t* p = next_;
  const uint8_t tag = *p++;
  // High tag numbers never occur in the structures read here.
  if ((tag & 0x1F) == 0x1F || p == end_) return ok_ = false;
  size_t length = *p++;
  if (length & 0x80) {
    const size_t count = length & 0x7F;
    // 0x80 is the indefinite form; four bytes bound anything a 32-bit process can hold.
    if (count == 0 || count > 4 || static_cast<size_t>(end_ - p) < count || *p == 0) {
      return ok_ = false;
    }
    length = 0;
    for (size_t i = 0; i < count; ++i) length = (length << 8) | *p++;
    if (length < 0x80) return ok_ = false;  // the short form was required
  }
  if (static_cast<size_t>(end_ - p) < length) return ok_ = false;
  out.tag = tag;
  out.start = next_;
  out.value = p;
  out.size = length;
  out.encoded_size = static_cast<size_t>(p + length - next_);
  next_ = p + length;
  return true;
}

bool Reader::Expect(uint8_t tag, Element& out) {
  if (!Next(out)) return false;
  if (out.tag != tag) return ok_ = false;
  return true;
}

bool Reader::Optional(uint8_t tag, Element& out) {
  if (!ok_ || next_ == end_ || *next_ != tag) return false;
  return Next(out);
}

bool Whole(const uint8_t* data, size_t size, Element& out) {
  Reader reader(data, size);
  return reader.Next(out) && reader.AtEnd();
}

std::string OidText(const Element& oid) {
  if (oid.tag != kOid || oid.size == 0) return std::string();
  std::string text;
  unsigned long long arc = 0;
  bool first = true;
  for (size_t i = 0; i < oid.size; ++i) {
    const uint8_t byte = oid.value[i];
    // A leading 0x80 pads an arc, which DER forbids; more than 56 bits is not an identifier.
    if ((arc == 0 && byte == 0x80) || arc > (1ULL << 56)) return std::string();
    arc = (arc << 7) | (byte & 0x7F);
    if (byte & 0x80) {
      if (i + 1 == oid.size) return std::string();
      continue;
    }
    if (first) {
      const unsigned long long top = arc < 40 ? 0 : (arc < 80 ? 1 : 2);
      text = std::to_string(top) + "." + std::to_string(arc - top * 40);
      first = false;
    } else {
      text += "." + std::to_string(arc);
    }
    arc = 0;
  }
  return text;
}

bool ReadAlgorithm(Reader& reader, std::string& oid) {
  Element algorithm;
  Element id;
  if (!reader.Expect(kSequence, algorithm)) return false;
  Reader inner(algorithm);
  if (!inner.Expect(kOid, id)) return false;
  oid = OidText(id);
  return !oid.empty();
}

}  // namespace der
