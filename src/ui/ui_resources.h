// The images compiled into the window library; call once after the application object
// exists (the library is static, so its resources are not registered by themselves).
#pragma once

namespace lapora {

void InitUiResources();

}  // namespace lapora
