#include "compressor/gui/config_page.h"
#include "compressor/gui/configuration_dialog.h"

namespace zov {

namespace {
class PlaceholderPage : public ConfigPage {
 public:
  using ConfigPage::ConfigPage;
  void store() override {}
  bool resetOnScreen() override { return true; }
};
}  // namespace

ConfigPage* createConfigPage(int, QWidget* parent, ConfigWorkingCopy& copy,
                             const ConfigurationContext&, const std::function<int(QWidget*)>&) {
  return new PlaceholderPage(parent, copy);
}

}  // namespace zov
