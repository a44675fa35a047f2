#pragma once

// Kept only for the library's exported interface: the reader's window buffers.

// Memory for the reader's window buffers, all in one block.
namespace window_memory {

// Null when the block cannot be had; the reader then maps its windows.
unsigned char* allocate();
void release(unsigned char* block);

// Tests set this to make every reader made afterwards map its windows.
extern bool refuse;

}  // namespace window_memory
