#pragma once
// The rows of the invoice listing written into its packet. On SQLite the statement is stepped
// through SQLite's own interface and every value goes from the database's row straight into the
// packet's bytes; elsewhere the rows come through the Qt SQL driver. Both give the bytes the
// listing has always given (the values read as the Qt driver reads them).
#include "database.h"
#include "listingquery.h"

#include "data/packet.h"

#include <QSqlDatabase>

namespace fis::service {

// Runs `query` and answers its packet; throws ServiceError when the database fails.
DataPacket writeListing(QSqlDatabase &db, const ListingQuery &query);

// The same through the Qt SQL driver whatever the database (the portable path).
DataPacket writeListingPortable(QSqlDatabase &db, const ListingQuery &query);

} // namespace fis::service
