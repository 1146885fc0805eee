#include "compressor/gui/config_working_copy.h"
#include "compressor/gui/configuration_dialog.h"
#include "compressor/gui/filter_page.h"

namespace zov {

ConfigPage* createExtractCropPage(QWidget* parent, ConfigWorkingCopy& copy);
ConfigPage* createCompressionPage(QWidget* parent, ConfigWorkingCopy& copy,
                                  std::function<int(QWidget*)> ask);
ConfigPage* createChromaPage(QWidget* parent, ConfigWorkingCopy& copy,
                             const ConfigurationContext& context);
ConfigPage* createDataRatePage(QWidget* parent, ConfigWorkingCopy& copy);
ConfigPage* createCutOffPage(QWidget* parent, ConfigWorkingCopy& copy);
ConfigPage* createAudioPage(QWidget* parent, ConfigWorkingCopy& copy);
ConfigPage* createPaddingPage(QWidget* parent, ConfigWorkingCopy& copy);

ConfigPage* createConfigPage(int index, QWidget* parent, ConfigWorkingCopy& copy,
                             const ConfigurationContext& context,
                             const std::function<int(QWidget*)>& presetQuestion) {
  ConfigPage* page = nullptr;
  switch (index) {
    case kPageExtractCrop:
      page = createExtractCropPage(parent, copy);
      break;
    case kPageFiltering:
      page = new FilterPage(parent, copy, context);
      break;
    case kPageCompression:
      page = createCompressionPage(parent, copy, presetQuestion);
      break;
    case kPageChroma:
      page = createChromaPage(parent, copy, context);
      break;
    case kPageDataRate:
      page = createDataRatePage(parent, copy);
      break;
    case kPageCutOff:
      page = createCutOffPage(parent, copy);
      break;
    case kPageAudio:
      page = createAudioPage(parent, copy);
      break;
    default:
      page = createPaddingPage(parent, copy);
      break;
  }
  page->setObjectName(kConfigPages[index].pageTemplate);
  return page;
}

}  // namespace zov
