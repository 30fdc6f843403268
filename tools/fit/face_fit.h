// The default face fitted to a head.
#pragma once
