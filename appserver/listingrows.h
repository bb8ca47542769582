#pragma once
// The rows of the invoice listing written into its packet. The statement runs through the
// database's own interface (SQLite's, or libpq one row at a time) and every value goes from the
// database's row straight into the packet's bytes; anything else comes through the Qt SQL
// driver. All give the same bytes (the values are read as the Qt drivers read them).
#include "database.h"
#include "listingquery.h"

#include "data/packet.h"

#include <QSqlDatabase>

namespace fis::service {

// Runs `query` and answers its packet; throws ServiceError when the database fails.
DataPacket writeListing(QSqlDatabase &db, const ListingQuery &query);

// The same through the Qt SQL driver whatever the database (the portable path).
DataPacket writeListingPortable(QSqlDatabase &db, const ListingQuery &query);

// The listing as a packet whose rows are read when it is sent (DataPacket::source), the same
// rows writeListing reads. It uses `db`, a connection of the calling thread: it must run on that
// thread before the connection serves anything else (the server sends it right after the call
// that made it); its bytes (encoded()) are the ones writeListing answers.
DataPacket listingSource(QSqlDatabase db, ListingQuery query);

} // namespace fis::service
