TYPE=TRIGGERS
triggers='CREATE DEFINER=`root`@`localhost` TRIGGER orders_after_insert AFTER INSERT ON orders FOR EACH ROW\n    INSERT INTO order_log (order_id, message, logged_at)\n    VALUES (NEW.id, CONCAT(\'order \', NEW.id, \' for customer \', NEW.customer_id, \' it\'\'s new\'),\n            NEW.ordered_at)'
sql_modes=1411383296
definers='root@localhost'
client_cs_names='utf8mb4'
connection_cl_names='utf8mb4_general_ci'
db_cl_names='utf8mb4_general_ci'
created=1796864834794797
