// Imports the timer library the ordinary way, so the loader may take it from this program's folder.
#include <windows.h>
#include <mmsystem.h>

int main() {
  return ::timeGetTime() == 0 ? 1 : 0;
}
