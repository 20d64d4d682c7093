#include "app/app_state.h"

namespace vistrel {

AppState& App() {
  static AppState state;
  return state;
}

}  // namespace vistrel
