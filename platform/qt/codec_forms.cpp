// The Qt forms of the codec library's and the network source's dialogs, by dialog name.
#include "platform/qt/codec_forms.h"

#include "platform/qt/qt_platform.h"
#include "zov/zev_dialogs.h"
#include "zov/zovcod32_dialogs.h"

namespace zov {

void registerCodecForms(QtDialogHost& host) {
  host.registerForm(codec::kAboutDialog, qtforms::aboutForm);
  host.registerForm(codec::kStatusDialog, qtforms::statusForm);
  host.registerForm(codec::kConfigurationDialog, qtforms::configurationForm);
  host.registerForm(codec::kAdvancedDialog, qtforms::advancedForm);
  host.registerForm(codec::kHiColorDialog, qtforms::hiColorForm);
  host.registerForm(network::kSiteDialog, qtforms::siteForm);
  host.registerForm(network::kMovieDialog, qtforms::movieForm);
  host.registerModelessForm(network::kLoadingDialog, qtforms::loadingForm);
  host.registerModelessForm(network::kCacheStatusDialog, qtforms::cacheStatusForm);
}

}  // namespace zov
