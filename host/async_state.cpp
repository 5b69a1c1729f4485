#include "host/async_state.h"

namespace velder::async {
namespace {

State state;

}  // namespace

State& Shared() {
    return state;
}

}  // namespace velder::async
