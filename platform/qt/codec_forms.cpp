// The Qt forms of the codec library's and the network source's dialogs.
#include "platform/qt/qt_platform.h"

namespace zov {

void registerCodecForms(QtDialogHost&) {}

}  // namespace zov
