// Deterministic random damage to real inputs of the two parsers; neither may crash or hang.
#include <gtest/gtest.h>

#include <string>

#include "UiTestSupport.h"
#include "ui/core/Markup.h"
#include "ui/core/ZipArchive.h"
#include "ui/render/GdiHandles.h"

namespace {

using ui_test::Random;

template <typename Text>
void Mutate(Text& text, Random& random) {
  const int edits = 1 + static_cast<int>(random.Below(4));
  for (int i = 0; i < edits && !text.empty(); ++i) {
    const size_t at = random.Below(text.size());
    switch (random.Below(3)) {
      case 0:
        text[at] = static_cast<typename Text::value_type>(random.Next());
        break;
      case 1:
        text.erase(at, 1 + random.Below(8));
        break;
      default:
        text.insert(at, 1, text[random.Below(text.size())]);
        break;
    }
  }
}

TEST(Fuzz, MarkupSurvivesMutations) {
  const std::wstring seed =
      L"<?xml version=\"1.0\"?><Window size=\"640,360\" caption=\"0,0,0,360\">"
      L"<Class name=\"c\" _value=\"5\"/><!-- note --><VBox bkimage=\"home.png\">"
      L"<Button class=\"btn_start\" text=\"&quot;Go&quot; &amp;\"/><Label>t</Label>"
      L"</VBox></Window>";
  Random random;
  for (int i = 0; i < 4000; ++i) {
    std::wstring text = seed;
    Mutate(text, random);
    ui::Markup markup;
    if (markup.Load(text)) {
      for (ui::MarkupNode n = markup.GetRoot(); n.IsValid(); n = n.GetChild()) {
        for (int a = 0; a < n.GetAttributeCount(); ++a) (void)n.GetAttributeValue(a);
      }
    }
  }
}

TEST(Fuzz, ZipSurvivesMutations) {
  const std::string seed = ui_test::MakeZip(
      {{"a/global.xml", std::string(300, 'g'), true}, {"a/b.ini", "k=v\n", false}});
  Random random;
  for (int i = 0; i < 4000; ++i) {
    std::string bytes = seed;
    Mutate(bytes, random);
    ui::ZipArchive zip;
    if (!zip.Open(bytes.data(), bytes.size())) continue;
    for (const wchar_t* name : {L"a/global.xml", L"a/b.ini"}) {
      if (HGLOBAL block = zip.ExtractToGlobal(name)) ::GlobalFree(block);
    }
  }
}

}  // namespace
