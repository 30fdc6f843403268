// The expression library carried to a fitted face.
#pragma once
