#pragma once
// A header of the front end, for the planted include beside it.
