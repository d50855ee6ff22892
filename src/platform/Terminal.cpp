#include "platform/Terminal.h"

namespace tarvix {

std::string CursorMoveSequence(int64_t rowsUp, int column) {
  std::string move = "\r";
  if (rowsUp > 0) move += "\x1b[" + std::to_string(rowsUp) + "A";
  if (rowsUp < 0) move += "\x1b[" + std::to_string(-rowsUp) + "B";
  if (column > 0) move += "\x1b[" + std::to_string(column) + "C";
  return move;
}

}  // namespace tarvix
