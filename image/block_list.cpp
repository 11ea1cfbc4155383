#include "image/block_list.h"

ImageBlock* addBlock(ImageBlock*& head, ImageBlock* block) {
    ImageBlock* replaced = nullptr;
    for (ImageBlock** link = &head; *link != nullptr; link = &(*link)->next) {
        if ((*link)->targetAddress == block->targetAddress) {
            replaced = *link;
            *link = replaced->next;
            break;
        }
    }

    block->next = nullptr;
    ImageBlock** tail = &head;
    while (*tail != nullptr) tail = &(*tail)->next;
    *tail = block;
    return replaced;
}

bool holdsImageBytes(const ImageBlock* head) {
    for (const ImageBlock* block = head; block != nullptr; block = block->next) {
        if (block->byteCount > 0) return true;
    }
    return false;
}
