#include "ui/key_listener.h"

#include "app/key_source.h"

namespace tkb::ui {

namespace {

// The window shows the failure itself ("Failed to install hook!" / "Error"), once.
class NoBox : public HookMessageBox {
 public:
  void showError(const std::string&, const std::string&) override {}
};

class SystemListener : public KeyListener {
 public:
  bool install(Deliver deliver) override {
    NoBox box;
    return installKeyboardHook(std::move(deliver), box);
  }
  void remove() override { removeKeyboardHook(); }
};

}  // namespace

std::unique_ptr<KeyListener> createSystemKeyListener() { return std::make_unique<SystemListener>(); }

}  // namespace tkb::ui
