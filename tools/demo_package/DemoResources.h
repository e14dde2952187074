// Resource ids shared by the setup package's source and its resource script.
#pragma once

#define IDR_MINTEO_EXE 201
