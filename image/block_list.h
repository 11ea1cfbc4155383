// The BlockList: a singly linked chain of image blocks in order of addition,
// holding at most one block per target address.
#pragma once

#include "image/image_block.h"

// Unlinks the block with the same target address, if any, and appends `block`
// at the tail (it becomes the head of an empty list). Returns the unlinked block
// or null. The caller decides what happens to it: a transfer that is walking
// the list may still hold it, so it must not be released while one runs.
ImageBlock* addBlock(ImageBlock*& head, ImageBlock* block);

// True when any block of the list holds at least one byte: a list without
// image bytes has nothing to download.
bool holdsImageBytes(const ImageBlock* head);
