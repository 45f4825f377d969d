#include "core/heap_blocks.h"

#include "support/strings.h"

namespace core {

std::unique_ptr<TextBlock> makeTextBlock(const std::string& utf8, size_t maxUnits) {
    auto block = std::make_unique<TextBlock>();
    block->text = support::truncateUtf16Units(utf8, maxUnits);
    return block;
}

}  // namespace core
