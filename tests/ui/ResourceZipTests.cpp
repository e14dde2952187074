// The skin archive read from the program's own resources, as the installer keeps it.
#include <gtest/gtest.h>

#include <memory>
#include <string>

#include "base/UniqueResource.h"
#include "ui/core/Control.h"
#include "ui/core/GlobalManager.h"
#include "ui/core/WindowBuilder.h"

namespace {

// Opens the archive linked into this program and puts everything back afterwards, so the
// other tests keep reading from their folders.
class ResourceZipTest : public ::testing::Test {
 protected:
  void SetUp() override { saved_path_ = global_.GetResourcePath(); }
  void TearDown() override {
    global_.CloseResZip();
    global_.SetResourcePath(saved_path_);
  }

  ui::GlobalManager& global_ = ui::GlobalManager::Instance();
  std::wstring saved_path_;
};

TEST_F(ResourceZipTest, ArchiveFromTheExecutableFeedsFilesAndLayouts) {
  ASSERT_TRUE(global_.OpenResZip(133, L"ZIP", std::string()));
  ASSERT_TRUE(global_.IsUseZip());

  // Members are found by the paths the skin uses, whatever the slashes and letter case.
  nbase::UniqueGlobalMemory block(
      global_.GetZipData(L"Resources\\themes\\default\\form\\..\\form\\ZIPPED.xml"));
  ASSERT_TRUE(block);
  nbase::ScopedGlobalLock lock(block.get());
  const std::string text(static_cast<const char*>(lock.data()), ::GlobalSize(block.get()));
  EXPECT_NE(text.find("<Label name=\"from_zip\""), std::string::npos);

  // The builder takes a layout from the archive before it looks at the file system.
  global_.SetResourcePath(L"resources\\themes\\default\\");
  ui::WindowBuilder builder;
  std::unique_ptr<ui::Control> root(builder.Create(L"form\\zipped.xml", nullptr, nullptr, nullptr));
  ASSERT_NE(root, nullptr);
  EXPECT_EQ(root->GetName(), L"zip_root");
}

TEST_F(ResourceZipTest, MissingResourceLeavesNoArchiveOpen) {
  ASSERT_TRUE(global_.OpenResZip(133, L"ZIP", std::string()));
  EXPECT_FALSE(global_.OpenResZip(134, L"ZIP", std::string()));
  EXPECT_FALSE(global_.IsUseZip());
  EXPECT_FALSE(global_.OpenResZip(133, L"PNG", std::string()));
  EXPECT_FALSE(global_.IsUseZip());
}

}  // namespace
