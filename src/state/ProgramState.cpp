#include "state/ProgramState.h"

TProgramState& ProgramState() {
    static TProgramState state;
    return state;
}
