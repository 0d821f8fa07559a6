#pragma once

// The window's modes; the numbers are the navigation buttons' ids and the
// stored mode index.
enum class Mode { TcpClient = 0, TcpServer = 1, Udp = 2, Serial = 3 };

// Where a link stands. Opening: asked for, but nothing handed to a worker yet
// (a host-name lookup runs). Closing: the close is under way.
enum class LinkState { Closed, Opening, Open, Closing };
