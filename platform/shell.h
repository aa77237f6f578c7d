// Shell family: silent deletes of file trees.
#pragma once

#include <windows.h>
// shellapi.h needs windows.h first.
#include <shellapi.h>
