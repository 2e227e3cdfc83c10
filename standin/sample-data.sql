-- Reference rows and generated subscribers for the stand-in OrvaneDb. Expects the temporary table
-- generation(subscribers) holding how many subscribers to make. Everything derives from the row number,
-- so the same count always gives the same data.
--
-- Object identifiers: printf('{%08X-<kind>-4%03X-8%03X-%012X}', hash(i), i % 4096, i / 4096 % 4096, i)
-- with hash(i) = i * 2654435761 % 2^32 and the kinds
--   C050 class of service, 10CA location, D15A distribution list, 5B5C subscriber, CA11 call handler.
--
-- Subscriber n (1..N):
--   type          n%50: 0 -> 0 with a call handler (archived mailbox), 25 -> 0 without one,
--                 5 -> 2, 10 -> 3, 15 -> 5, 20 -> 7, 30 -> 8, 35 -> 9, otherwise 1
--   alias         user00042; n%37=1 "o'brien<n>", n%41=2 "josé.müller<n>", n%43=3 "mary ann <n>",
--                 n%59=4 "Zoë O'Connor <n>"
--   extension     3 + n%13 digits (3 to 15), all different: digit (d%9)+1, then n/13 padded to d-1 digits;
--                 n%10=3 also has "99" + n as 6 digits, n%20=3 also "98" + n as 6 digits;
--                 type 0 without a call handler has none
--   COS           none for n=7 and for the archived mailboxes with n%100=50, DefaultAdministrator when
--                 n%97=11, otherwise by n%7 one of DefaultSubscriber, StandardUsersEast, StandardUsersWest,
--                 Director'sOffice, Executives, GuestAccess, Students. The grid refuses a subscriber without
--                 a class of service with one message each: "All subscribers" meets only subscriber 7, the
--                 others only "Archived Mailboxes" (and the CSV import) reach.
--   SwitchID      n%4: 0 -> NULL, 1 -> 0, 2 -> 1, 3 -> 2
--   HomeServer    n%5: 0,1 -> MAILSRV01, 2,3 -> MAILSRV02, 4 -> EXCH-BRANCH; none for types 5, 8 and 9
--   location      type 5 -> New York Bridge or O'Hare Site (5), 7 -> London AMIS (7), 8 -> Paris VPIM (8),
--                 9 -> Tokyo Internet (9); others Default Location (0), n%60=31 Chicago Digital (1)
--   RemoteNodeID  type 5: 101, 102 or 2055 by n%3; n%125=17: 300; otherwise NULL

INSERT INTO cos (CosObjectID, Alias, TextName)
SELECT printf('{%08X-C050-4%03X-8%03X-%012X}', column1 * 2654435761 % 4294967296, column1 % 4096,
              column1 / 4096 % 4096, column1), column2, column3
FROM (VALUES (1, 'DefaultSubscriber', 'Default Subscriber'),
             (2, 'DefaultAdministrator', 'Default Administrator'),
             (3, 'StandardUsersEast', 'Standard Users'),
             (4, 'StandardUsersWest', 'Standard Users'),
             (5, 'Director''sOffice', 'Director''s Office'),
             (6, 'Executives', 'Executives'),
             (7, 'GuestAccess', 'Guest Access'),
             (8, 'Students', 'Élèves et étudiants'));

INSERT INTO location (LocationObjectID, Alias, TextName, DestinationType)
SELECT printf('{%08X-10CA-4%03X-8%03X-%012X}', column1 * 2654435761 % 4294967296, column1 % 4096,
              column1 / 4096 % 4096, column1), column2, column3, column4
FROM (VALUES (1, 'default', 'Default Location', 0),
             (2, 'NYC-Bridge', 'New York Bridge', 5),
             (3, 'LondonAMIS', 'London AMIS', 7),
             (4, 'ParisVPIM', 'Paris VPIM', 8),
             (5, 'TokyoSMTP', 'Tokyo Internet', 9),
             (6, 'ChicagoDigital', 'Chicago Digital', 1),
             (7, 'O''HareSite', 'O''Hare Site', 5),
             (8, 'MadridLegacy', 'Madrid Legacy', 3));

INSERT INTO distributionlist (SystemDListObjectID, Alias, TextName)
SELECT printf('{%08X-D15A-4%03X-8%03X-%012X}', column1 * 2654435761 % 4294967296, column1 % 4096,
              column1 / 4096 % 4096, column1), column2, column3
FROM (VALUES (1, 'allsubscribers', 'All Subscribers'),
             (2, 'undeliverablemessages', 'Undeliverable Messages'),
             (3, 'systemevent', 'System Event Messages'),
             (4, 'salesteam', 'Sales Team'),
             (5, 'equipe-rd', 'Équipe R&D'));

CREATE TEMP TABLE first_name (i INTEGER PRIMARY KEY, name TEXT);
INSERT INTO first_name VALUES (0, 'Anna'), (1, 'José'), (2, 'Mary Ann'), (3, 'Zoë'), (4, 'Liam'),
                              (5, 'Søren'), (6, 'Renée'), (7, 'Kenji'), (8, 'D''Arcy'), (9, 'Fatima');
CREATE TEMP TABLE last_name (i INTEGER PRIMARY KEY, name TEXT);
INSERT INTO last_name VALUES (0, 'Smith'), (1, 'O''Brien'), (2, 'Müller'), (3, 'García'), (4, 'Nguyen'),
                             (5, 'Kowalski'), (6, 'van der Berg'), (7, 'Okafor'), (8, 'Dubois'),
                             (9, 'Johansson'), (10, 'Rossi'), (11, 'Tanaka'), (12, 'Brown');
CREATE TEMP TABLE generated AS
WITH RECURSIVE seq(n) AS (
    SELECT 1 WHERE (SELECT subscribers FROM generation) > 0
    UNION ALL
    SELECT n + 1 FROM seq WHERE n < (SELECT subscribers FROM generation)
),
typed AS (
    SELECT n,
           CASE n % 50 WHEN 0 THEN 0 WHEN 25 THEN 0 WHEN 5 THEN 2 WHEN 10 THEN 3 WHEN 15 THEN 5 WHEN 20 THEN 7
                       WHEN 30 THEN 8 WHEN 35 THEN 9 ELSE 1 END AS type
    FROM seq
)
SELECT n, type,
       n % 50 <> 25 AS has_handler,
       CASE WHEN n % 37 = 1 THEN 'o''brien' || n
            WHEN n % 41 = 2 THEN 'josé.müller' || n
            WHEN n % 43 = 3 THEN 'mary ann ' || n
            WHEN n % 59 = 4 THEN 'Zoë O''Connor ' || n
            ELSE printf('user%05d', n) END AS alias,
       3 + n % 13 AS digits,
       CASE WHEN n = 7 OR n % 100 = 50 THEN NULL
            WHEN n % 97 = 11 THEN 2
            ELSE CASE n % 7 WHEN 0 THEN 1 WHEN 1 THEN 3 WHEN 2 THEN 4 WHEN 3 THEN 5 WHEN 4 THEN 6
                            WHEN 5 THEN 7 ELSE 8 END END AS cos,
       CASE type WHEN 5 THEN CASE n % 2 WHEN 0 THEN 2 ELSE 7 END
                 WHEN 7 THEN 3 WHEN 8 THEN 4 WHEN 9 THEN 5
                 ELSE CASE WHEN n % 60 = 31 THEN 6 ELSE 1 END END AS location
FROM typed;

INSERT INTO subscriber (SubscriberObjectID, Alias, DisplayName, FirstName, LastName, HomeServer,
                        CallHandlerObjectID, RemoteNodeID, LegacyMailbox, SubscriberType, CosObjectId,
                        LocationObjectID, SwitchID, DTMFAccessID)
SELECT printf('{%08X-5B5C-4%03X-8%03X-%012X}', n * 2654435761 % 4294967296, n % 4096, n / 4096 % 4096, n),
       g.alias,
       f.name || ' ' || l.name,
       f.name,
       l.name,
       CASE WHEN type IN (5, 8, 9) THEN NULL
            WHEN n % 5 IN (0, 1) THEN 'MAILSRV01' WHEN n % 5 IN (2, 3) THEN 'MAILSRV02' ELSE 'EXCH-BRANCH' END,
       CASE WHEN has_handler
            THEN printf('{%08X-CA11-4%03X-8%03X-%012X}', n * 2654435761 % 4294967296, n % 4096,
                        n / 4096 % 4096, n) END,
       CASE WHEN type = 5 THEN CASE n % 3 WHEN 0 THEN '101' WHEN 1 THEN '102' ELSE '2055' END
            WHEN n % 125 = 17 THEN '300' END,
       CASE WHEN type IN (5, 7, 8, 9) THEN NULL
            ELSE '/o=Marvok/ou=First Administrative Group/cn=Recipients/cn=' || g.alias END,
       type,
       CASE WHEN cos IS NOT NULL
            THEN printf('{%08X-C050-4%03X-8%03X-%012X}', cos * 2654435761 % 4294967296, cos % 4096,
                        cos / 4096 % 4096, cos) END,
       printf('{%08X-10CA-4%03X-8%03X-%012X}', location * 2654435761 % 4294967296, location % 4096,
              location / 4096 % 4096, location),
       CASE n % 4 WHEN 0 THEN NULL WHEN 1 THEN 0 WHEN 2 THEN 1 ELSE 2 END,
       CASE WHEN has_handler THEN CAST(digits % 9 + 1 AS TEXT) || printf('%0*d', digits - 1, n / 13) END
FROM generated AS g
JOIN first_name AS f ON f.i = n % 10
JOIN last_name AS l ON l.i = n / 10 % 13;

INSERT INTO callhandler (CallHandlerObjectID, Alias, DisplayName, DTMFAccessID)
SELECT CallHandlerObjectID, 'ch_' || Alias, DisplayName, DTMFAccessID
FROM subscriber WHERE CallHandlerObjectID IS NOT NULL;

INSERT INTO dtmfaccessid (DTMFAccessID, ParentObjectID)
SELECT DTMFAccessID, SubscriberObjectID FROM subscriber WHERE DTMFAccessID IS NOT NULL
UNION ALL
SELECT printf('99%06d', n), s.SubscriberObjectID
FROM generated AS g JOIN subscriber AS s ON s.Alias = g.alias
WHERE n % 10 = 3 AND s.DTMFAccessID IS NOT NULL
UNION ALL
SELECT printf('98%06d', n), s.SubscriberObjectID
FROM generated AS g JOIN subscriber AS s ON s.Alias = g.alias
WHERE n % 20 = 3 AND s.DTMFAccessID IS NOT NULL;

DROP TABLE generated;
DROP TABLE first_name;
DROP TABLE last_name;
