#include "fakeplatform.h"

FakePlatform::FakePlatform() = default;
FakePlatform::~FakePlatform() = default;
