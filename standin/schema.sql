-- OrvaneDb as the embedded stand-in server serves it: the tables behind the views the program reads,
-- the views themselves, and the two stored procedures as views whose INSTEAD OF INSERT triggers do the
-- procedures' work.
--
-- Conventions:
--  * Object identifiers are braced upper-case GUID texts, e.g. {1A2B3C4D-5B5C-4001-8000-000000000001}.
--  * Every text column compares ignoring letter case (COLLATE NOCASE), as SQL Server's default collation.
--  * Text columns declare a length, as the server's nvarchar(n) columns do; the ODBC driver reports it and
--    clients size their read buffers by it (SQLite itself stores longer values too).
--  * WAL journaling: the recordsets the program keeps open for its whole life never block a procedure.
--
-- Stand-in-only columns and tables, which a real server does not have:
--  * subscriber.SyncResult        NULL: the directory synchronisation of a deletion succeeds (result 0);
--                                 a number: the synchronisation reports that number as its result.
--  * subscriber.SyncNeverFinishes 1: the deletion's ticket keeps a NULL result forever.
--  * directorysyncticket.PendingResult  the result the synchronisation would report once finished. A
--                                 ticket whose result should appear only at a later poll is made by marking
--                                 the subscriber SyncNeverFinishes and, when the poll is due, running
--                                   UPDATE directorysyncticket SET result = PendingResult WHERE Ticket = ?
--  * standin_settings             SyncByService 1: no ticket result is decided at once; every ticket stays
--                                 pending until standin/sync-service finishes it from PendingResult (NULL
--                                 there: the subscriber was marked SyncNeverFinishes). 0 (the default):
--                                 results are decided at once, as the marks above say.
--  * standin_deletions            one row per sp_DeleteSubscriber call: what was asked and what went.
--  * standin_ticket_deletions     one row per sp_DeleteDirectorySyncTicket call.

PRAGMA journal_mode = WAL;

CREATE TABLE cos (
    CosObjectID VARCHAR(64) COLLATE NOCASE NOT NULL PRIMARY KEY,
    Alias       VARCHAR(128) COLLATE NOCASE NOT NULL,
    TextName    VARCHAR(128) COLLATE NOCASE NOT NULL
);

CREATE TABLE location (
    LocationObjectID VARCHAR(64) COLLATE NOCASE NOT NULL PRIMARY KEY,
    Alias            VARCHAR(128) COLLATE NOCASE NOT NULL,
    TextName         VARCHAR(128) COLLATE NOCASE NOT NULL,
    DestinationType  INTEGER NOT NULL
);

CREATE TABLE distributionlist (
    SystemDListObjectID VARCHAR(64) COLLATE NOCASE NOT NULL PRIMARY KEY,
    Alias               VARCHAR(128) COLLATE NOCASE NOT NULL,
    TextName            VARCHAR(128) COLLATE NOCASE NOT NULL
);

CREATE TABLE subscriber (
    SubscriberObjectID  VARCHAR(64) COLLATE NOCASE NOT NULL PRIMARY KEY,
    Alias               VARCHAR(128) COLLATE NOCASE NOT NULL,
    DisplayName         VARCHAR(128) COLLATE NOCASE,
    FirstName           VARCHAR(128) COLLATE NOCASE,
    LastName            VARCHAR(128) COLLATE NOCASE,
    HomeServer          VARCHAR(128) COLLATE NOCASE,
    CallHandlerObjectID VARCHAR(64) COLLATE NOCASE,
    RemoteNodeID        VARCHAR(40) COLLATE NOCASE,
    LegacyMailbox       VARCHAR(512) COLLATE NOCASE,
    SubscriberType      INTEGER NOT NULL,
    CosObjectId         VARCHAR(64) COLLATE NOCASE,
    LocationObjectID    VARCHAR(64) COLLATE NOCASE,
    SwitchID            INTEGER,
    DTMFAccessID        VARCHAR(40) COLLATE NOCASE,
    SyncResult          INTEGER,
    SyncNeverFinishes   INTEGER NOT NULL DEFAULT 0
);
CREATE INDEX subscriber_alias ON subscriber (Alias);
CREATE INDEX subscriber_callhandler ON subscriber (CallHandlerObjectID);
CREATE INDEX subscriber_cos ON subscriber (CosObjectId);

CREATE TABLE callhandler (
    CallHandlerObjectID VARCHAR(64) COLLATE NOCASE NOT NULL PRIMARY KEY,
    Alias               VARCHAR(128) COLLATE NOCASE,
    DisplayName         VARCHAR(128) COLLATE NOCASE,
    DTMFAccessID        VARCHAR(40) COLLATE NOCASE
);

-- Every extension of a subscriber; ParentObjectID is the subscriber's object identifier.
CREATE TABLE dtmfaccessid (
    DTMFAccessID     VARCHAR(40) COLLATE NOCASE NOT NULL,
    ParentObjectID   VARCHAR(64) COLLATE NOCASE NOT NULL,
    ParentObjectType INTEGER NOT NULL DEFAULT 1
);
CREATE INDEX dtmfaccessid_parent ON dtmfaccessid (ParentObjectID);
CREATE INDEX dtmfaccessid_value ON dtmfaccessid (DTMFAccessID);

-- One row per ticket (tests may add a second); result stays NULL until the synchronisation is done.
CREATE TABLE directorysyncticket (
    Ticket        VARCHAR(64) COLLATE NOCASE NOT NULL,
    result        INTEGER,
    ObjectID      VARCHAR(64) COLLATE NOCASE,
    PendingResult INTEGER
);
CREATE INDEX directorysyncticket_ticket ON directorysyncticket (Ticket);

CREATE TABLE standin_settings (
    Name  VARCHAR(64) COLLATE NOCASE NOT NULL PRIMARY KEY,
    Value INTEGER
);
INSERT INTO standin_settings (Name, Value) VALUES ('SyncByService', 0);

CREATE TABLE standin_deletions (
    Seq                     INTEGER PRIMARY KEY AUTOINCREMENT,
    SubscriberObjectID      VARCHAR(64) COLLATE NOCASE,
    Alias                   VARCHAR(128) COLLATE NOCASE,
    Found                   INTEGER NOT NULL,
    DirectorySync           INTEGER,
    DirectorySyncFlags      INTEGER,
    ForceRemove             INTEGER,
    ForceRemoveEAdmin       INTEGER,
    DirectorySyncTicket     VARCHAR(64) COLLATE NOCASE,
    DirectoryAccountRemoved INTEGER NOT NULL,
    MailboxRemoved          INTEGER NOT NULL
);

CREATE TABLE standin_ticket_deletions (
    Seq         INTEGER PRIMARY KEY AUTOINCREMENT,
    Ticket      VARCHAR(64) COLLATE NOCASE,
    RowsRemoved INTEGER NOT NULL
);

CREATE VIEW vw_Subscriber AS
SELECT SubscriberObjectID, Alias, DisplayName, FirstName, LastName, HomeServer, CallHandlerObjectID,
       RemoteNodeID, LegacyMailbox, SubscriberType, CosObjectId, LocationObjectID, SwitchID, DTMFAccessID
FROM subscriber;

CREATE VIEW vw_CallHandler AS
SELECT CallHandlerObjectID, Alias, DisplayName, DTMFAccessID FROM callhandler;

CREATE VIEW vw_COS AS
SELECT CosObjectID, Alias, TextName FROM cos;

CREATE VIEW vw_DTMFAccessID AS
SELECT DTMFAccessID, ParentObjectID, ParentObjectType FROM dtmfaccessid;

CREATE VIEW vw_Location AS
SELECT LocationObjectID, Alias, TextName, DestinationType FROM location;

CREATE VIEW vw_DistributionList AS
SELECT SystemDListObjectID, Alias, TextName FROM distributionlist;

CREATE VIEW vw_DirectorySyncTicket AS
SELECT Ticket, result, ObjectID FROM directorysyncticket;

-- sp_DeleteSubscriber: parameters the caller leaves unset arrive as NULL.
CREATE VIEW sp_DeleteSubscriber AS
SELECT CAST(NULL AS TEXT) AS SubscriberObjectID, CAST(NULL AS INTEGER) AS DirectorySync,
       CAST(NULL AS INTEGER) AS DirectorySyncFlags, CAST(NULL AS INTEGER) AS ForceRemove,
       CAST(NULL AS INTEGER) AS ForceRemoveEAdmin, CAST(NULL AS TEXT) AS DirectorySyncTicket
WHERE 0;

CREATE TRIGGER sp_DeleteSubscriber_run INSTEAD OF INSERT ON sp_DeleteSubscriber
BEGIN
    INSERT INTO standin_deletions (SubscriberObjectID, Alias, Found, DirectorySync, DirectorySyncFlags,
                                   ForceRemove, ForceRemoveEAdmin, DirectorySyncTicket,
                                   DirectoryAccountRemoved, MailboxRemoved)
    SELECT NEW.SubscriberObjectID, s.Alias, s.SubscriberObjectID IS NOT NULL, NEW.DirectorySync,
           NEW.DirectorySyncFlags, NEW.ForceRemove, NEW.ForceRemoveEAdmin, NEW.DirectorySyncTicket,
           s.SubscriberObjectID IS NOT NULL AND coalesce(NEW.ForceRemove, 0) = 1,
           s.SubscriberObjectID IS NOT NULL AND coalesce(NEW.ForceRemove, 0) = 1
    FROM (SELECT 1) AS one LEFT JOIN subscriber AS s ON s.SubscriberObjectID = NEW.SubscriberObjectID;

    -- The directory synchronisation reports at once: 0, the subscriber's failure mark, or never.
    -- An unknown subscriber cannot be synchronised: result 1. With the sync service in charge every
    -- ticket starts pending and the service reports later.
    INSERT INTO directorysyncticket (Ticket, result, ObjectID, PendingResult)
    SELECT NEW.DirectorySyncTicket,
           CASE WHEN coalesce(service.Value, 0) = 1 THEN NULL
                WHEN s.SubscriberObjectID IS NULL THEN 1
                WHEN s.SyncNeverFinishes = 1 THEN NULL
                ELSE coalesce(s.SyncResult, 0) END,
           NEW.SubscriberObjectID,
           CASE WHEN s.SubscriberObjectID IS NULL THEN 1
                WHEN coalesce(service.Value, 0) = 1 AND s.SyncNeverFinishes = 1 THEN NULL
                ELSE coalesce(s.SyncResult, 0) END
    FROM (SELECT 1) AS one LEFT JOIN subscriber AS s ON s.SubscriberObjectID = NEW.SubscriberObjectID
    LEFT JOIN standin_settings AS service ON service.Name = 'SyncByService'
    WHERE NEW.DirectorySync = 1 AND NEW.DirectorySyncTicket IS NOT NULL;

    DELETE FROM dtmfaccessid WHERE ParentObjectID = NEW.SubscriberObjectID;
    DELETE FROM callhandler WHERE CallHandlerObjectID IN
        (SELECT CallHandlerObjectID FROM subscriber WHERE SubscriberObjectID = NEW.SubscriberObjectID);
    DELETE FROM subscriber WHERE SubscriberObjectID = NEW.SubscriberObjectID;
END;

CREATE VIEW sp_DeleteDirectorySyncTicket AS
SELECT CAST(NULL AS TEXT) AS Ticket WHERE 0;

CREATE TRIGGER sp_DeleteDirectorySyncTicket_run INSTEAD OF INSERT ON sp_DeleteDirectorySyncTicket
BEGIN
    INSERT INTO standin_ticket_deletions (Ticket, RowsRemoved)
    VALUES (NEW.Ticket, (SELECT count(*) FROM directorysyncticket WHERE Ticket = NEW.Ticket));
    DELETE FROM directorysyncticket WHERE Ticket = NEW.Ticket;
END;
