// Makes the render contexts that windows paint into.
#pragma once

#include <memory>

#include "ui/render/RenderContext.h"

namespace ui {

class IRenderFactory {
 public:
  virtual ~IRenderFactory() = default;
  virtual std::unique_ptr<IRenderContext> CreateRenderContext() = 0;
};

class RenderFactory_GdiPlus : public IRenderFactory {
 public:
  std::unique_ptr<IRenderContext> CreateRenderContext() override {
    return std::make_unique<RenderContext_GdiPlus>();
  }
};

}  // namespace ui
