-- A stored marking for the simulator: two video frames (tokens of the model's type Data) waiting
-- for the Canny stage and one waiting for the output stage. The simulator reads marking 1 of the
-- ODBC data source "vudi". Load it into the database that data source names, for example into the
-- private server of scripts/test-db.sh, from the shell where its environment was set:
--   mariadb --no-defaults --socket="$VUDI_TEST_DB_DIR/mysql.sock" -uraruzev -praruzev vudi \
--     < scripts/token-db-example.sql
-- Loading it again replaces the tables of the earlier load. Names that begin with a digit go in
-- backquotes.

DROP TABLE IF EXISTS markings, `1_places`, `1_tokens_data`, `1_objects_data`;

-- The stored markings, by number.
CREATE TABLE markings (id int not null, name long varchar, primary key (id));
INSERT INTO markings VALUES (1, 'frames waiting for Canny and for the output');

-- The places of marking 1 that hold tokens, named as the net names them.
CREATE TABLE `1_places` (id int not null, name long varchar, primary key (id));
INSERT INTO `1_places` VALUES (1, 'Canny_in_1'), (2, 'Output_in_1');

-- The Data tokens of marking 1: each names its row of attribute values and its place.
CREATE TABLE `1_tokens_data` (id int not null, object_id int, place_id int, primary key (id));
INSERT INTO `1_tokens_data` VALUES (1, 11, 1), (2, 12, 1), (3, 13, 2);

-- The attributes of Data, one column each: n a text, s, l, tL and gL 32-bit integers, gT a date
-- and time, d and ood bits.
CREATE TABLE `1_objects_data` (id int not null, n long varchar, s int, l int, gT datetime,
                               d bit(1), ood bit(1), tL int, gL int, primary key (id));
INSERT INTO `1_objects_data` VALUES
  (11, 'frame 1', 640, 480, '2024-01-01 00:00:00', 0, 0, 0, 0),
  (12, 'frame 2', 640, 480, '2024-01-01 00:00:01', 0, 0, 1, 0),
  (13, 'frame 0', 320, 240, '2024-01-01 00:00:00', 1, 0, 2, 1);
